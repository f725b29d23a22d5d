// ToolError: the one failure the dbif tool reports, a message for a single line on standard error and
// the exit status it ends with. Thrown by any command; caught once in main. A plain value.
#ifndef DBIF_TOOLS_TOOLERROR_H
#define DBIF_TOOLS_TOOLERROR_H

#include <QString>
#include <stdexcept>

#include "dbif/DBIF_Exception.h"

class ToolError : public std::runtime_error {
public:
    // Exit status 2 is a usage error (unknown option, malformed expression), 1 everything else.
    static constexpr int USAGE = 2;
    static constexpr int FAILURE = 1;

    explicit ToolError(const QString& message, int exitStatus = FAILURE)
        : std::runtime_error(message.toStdString()), status(exitStatus) {}
    int exitStatus() const { return status; }

    // What the database said of a failed statement, on one line, without the statement and the
    // library's source place (which --verbose shows).
    static QString reasonOf(const DBIF_Exception& e) {
        const QString said = e.getError().databaseText().simplified();
        return said.isEmpty() ? e.getError().text().simplified() : said;
    }

private:
    int status;
};

#endif

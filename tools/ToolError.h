// ToolError: the one failure the dbif tool reports, a message for a single line on standard error and
// the exit status it ends with. Thrown by any command; caught once in main. A plain value.
#ifndef DBIF_TOOLS_TOOLERROR_H
#define DBIF_TOOLS_TOOLERROR_H

#include <QString>
#include <stdexcept>

class ToolError : public std::runtime_error {
public:
    // Exit status 2 is a usage error (unknown option, malformed expression), 1 everything else.
    static constexpr int USAGE = 2;
    static constexpr int FAILURE = 1;

    explicit ToolError(const QString& message, int exitStatus = FAILURE)
        : std::runtime_error(message.toStdString()), status(exitStatus) {}
    int exitStatus() const { return status; }

private:
    int status;
};

#endif

// CommandLine: the options and arguments of one dbif subcommand. Options are "--name VALUE",
// "--name=VALUE" or bare flags; an option the subcommand does not know is a usage error. A plain value,
// built once in main's thread.
#ifndef DBIF_TOOLS_COMMANDLINE_H
#define DBIF_TOOLS_COMMANDLINE_H

#include <QMap>
#include <QString>
#include <QStringList>

class CommandLine {
public:
    // Throws ToolError (usage) for an unknown option or a value option without its value.
    CommandLine(const QStringList& arguments, const QStringList& valueOptions, const QStringList& flags);

    bool has(const QString& option) const { return options.contains(option); }
    // The last value given, or the fallback.
    QString value(const QString& option, const QString& fallback = QString()) const;
    // Every value given, in order (a repeatable option such as --where).
    QStringList values(const QString& option) const { return options.value(option); }
    QStringList positional() const { return arguments; }

private:
    QMap<QString, QStringList> options;
    QStringList arguments;
};

#endif

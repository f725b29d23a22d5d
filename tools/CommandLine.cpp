// CommandLine.cpp: splitting a subcommand's arguments into options and positional arguments.
#include "CommandLine.h"

#include "ToolError.h"

CommandLine::CommandLine(const QStringList& input, const QStringList& valueOptions,
                         const QStringList& flags) {
    for (int i = 0; i < input.size(); ++i) {
        const QString& argument = input[i];
        if (!argument.startsWith(QLatin1String("--")) || argument == QLatin1String("--")) {
            if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1)
                throw ToolError(QStringLiteral("unknown option %1").arg(argument), ToolError::USAGE);
            arguments << argument;
            continue;
        }
        const int equals = argument.indexOf(QLatin1Char('='));
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        if (flags.contains(name) && equals < 0) {
            options[name] << QString();
        } else if (valueOptions.contains(name)) {
            if (equals >= 0) {
                options[name] << argument.mid(equals + 1);
            } else if (i + 1 < input.size()) {
                options[name] << input[++i];
            } else {
                throw ToolError(QStringLiteral("option --%1 needs a value").arg(name), ToolError::USAGE);
            }
        } else {
            throw ToolError(QStringLiteral("unknown option --%1").arg(name), ToolError::USAGE);
        }
    }
}

QString CommandLine::value(const QString& option, const QString& fallback) const {
    const QStringList given = options.value(option);
    return given.isEmpty() ? fallback : given.last();
}

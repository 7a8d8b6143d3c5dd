#include "platform/urlscheme.h"

#include "common/appinfo.h"
#include "common/logger.h"
#include "common/ownfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTextStream>

namespace Varnel {

#ifdef Q_OS_WIN

void registerUrlScheme(const QString &executablePath)
{
    QSettings classes(QStringLiteral("HKEY_CURRENT_USER\\Software\\Classes"), QSettings::NativeFormat);
    classes.beginGroup(QString::fromLatin1(kApplicationId));
    classes.setValue(QStringLiteral("Default"), QStringLiteral("URL:VarnelVPN Protocol"));
    classes.setValue(QStringLiteral("DefaultIcon/Default"), QString());
    classes.setValue(QStringLiteral("URL Protocol"), QString());
    classes.setValue(QStringLiteral("shell/open/command/Default"),
                     QStringLiteral("\"%1\" \"%2\"").arg(QDir::toNativeSeparators(executablePath),
                                                        QStringLiteral("%1")));
    classes.endGroup();
}

#else

namespace {

const QString kDesktopFileName = QStringLiteral("varnelvpn-url.desktop");
// The installed package's entry (application menu and scheme handler).
const QString kSystemDesktopFileName = QStringLiteral("varnelvpn.desktop");
const QString kSchemeMimeType = QStringLiteral("x-scheme-handler/varnelvpn");
const QString kDefaultsSection = QStringLiteral("[Default Applications]");

// One quoted argument of an Exec key: the quoting rule escapes " ` $ \, the
// general string rule then escapes each backslash again; % starts a field code.
QString quotedExecArgument(const QString &argument)
{
    QString quoted;
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c == QLatin1Char('%') ? QStringLiteral("%%") : QString(c);
    }
    QString escaped;
    for (const QChar c : quoted) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// Never through a link, nor in a folder that another user may write to:
// one who could plant a link there would have the client overwrite a file
// of the user's with the entry.
bool writeWhole(const QString &fileName, const QString &text)
{
    QString why;
    if (writeOwnFile(fileName, text.toUtf8(), 0644, &why))
        return true;
    Logger::instance().log(QStringLiteral("URL scheme not registered: %1").arg(why), 1, 4);
    return false;
}

// Sets the scheme's default handler in mimeapps.list, keeping every other line.
QString withDefaultHandler(const QString &mimeApps, const QString &desktopId)
{
    const QString entry = kSchemeMimeType + QLatin1Char('=') + desktopId + QLatin1Char(';');
    QStringList lines = mimeApps.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    int section = -1;
    for (int i = 0; i < lines.size() && section < 0; ++i) {
        if (lines.at(i).trimmed() == kDefaultsSection)
            section = i;
    }
    if (section < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines << kDefaultsSection << entry;
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }

    int end = section + 1;
    while (end < lines.size() && !lines.at(end).trimmed().startsWith(QLatin1Char('[')))
        ++end;
    bool replaced = false;
    for (int i = section + 1; i < end; ++i) {
        const QString key = lines.at(i).section(QLatin1Char('='), 0, 0).trimmed();
        if (key != kSchemeMimeType)
            continue;
        if (replaced) {
            lines.removeAt(i--);
            --end;
        } else {
            lines[i] = entry;
            replaced = true;
        }
    }
    if (!replaced) {
        // After the section's last entry, before any blank lines that end it.
        int insertAt = end;
        while (insertAt > section + 1 && lines.at(insertAt - 1).trimmed().isEmpty())
            --insertAt;
        lines.insert(insertAt, entry);
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

// The program an Exec value starts: its first word, unquoted, looked up on
// the search path when it names no folder.
QString execProgram(const QString &exec)
{
    QString program;
    if (exec.startsWith(QLatin1Char('"'))) {
        for (int i = 1; i < exec.size() && exec.at(i) != QLatin1Char('"'); ++i) {
            if (exec.at(i) == QLatin1Char('\\') && i + 1 < exec.size())
                ++i;
            program += exec.at(i);
        }
    } else {
        program = exec.section(QLatin1Char(' '), 0, 0);
    }
    if (!program.contains(QLatin1Char('/')))
        program = QStandardPaths::findExecutable(program);
    return program;
}

// True when a system folder of applications holds the package's entry, and
// it runs executablePath for the scheme: the per-user entry would only
// compete with it.
bool systemEntryRuns(const QString &executablePath)
{
    const QString target = QFileInfo(executablePath).canonicalFilePath();
    const QString own = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    for (const QString &dir : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
        if (dir == own)
            continue;
        QFile entry(dir + QLatin1Char('/') + kSystemDesktopFileName);
        if (!entry.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        bool handlesScheme = false;
        QString program;
        bool inMainGroup = false;
        for (const QString &line : QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1Char('[')))
                inMainGroup = line.trimmed() == QLatin1String("[Desktop Entry]");
            else if (inMainGroup && line.startsWith(QLatin1String("MimeType=")))
                handlesScheme = line.mid(9).split(QLatin1Char(';')).contains(kSchemeMimeType);
            else if (inMainGroup && line.startsWith(QLatin1String("Exec=")))
                program = execProgram(line.mid(5).trimmed());
        }
        if (handlesScheme && !program.isEmpty() && !target.isEmpty()
            && QFileInfo(program).canonicalFilePath() == target)
            return true;
    }
    return false;
}

} // namespace

void registerUrlScheme(const QString &executablePath)
{
    const QString applications = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    const QString ownEntry = applications + QLatin1Char('/') + kDesktopFileName;
    QString desktopId = kDesktopFileName;
    if (systemEntryRuns(executablePath)) {
        // The installed package handles the scheme; an entry of ours from an
        // earlier start of it would only shadow that one.
        desktopId = kSystemDesktopFileName;
        QFile::remove(ownEntry);
    } else {
        const QString desktopEntry = QStringLiteral(
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=%1\n"
            "Exec=%2 %u\n"
            "MimeType=%3;\n"
            "NoDisplay=true\n")
            .arg(QString::fromLatin1(kApplicationId), quotedExecArgument(executablePath), kSchemeMimeType);
        if (!writeWhole(ownEntry, desktopEntry))
            return;
    }

    const QString mimeAppsName =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/mimeapps.list");
    QString why;
    const auto mimeApps = readOwnFile(mimeAppsName, &why);
    if (!why.isEmpty()) {
        Logger::instance().log(QStringLiteral("URL scheme not registered: %1").arg(why), 1, 4);
        return;
    }
    writeWhole(mimeAppsName, withDefaultHandler(QString::fromUtf8(mimeApps.value_or(QByteArray())), desktopId));
}

#endif

} // namespace Varnel

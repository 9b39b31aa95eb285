// Save chooser on QFileDialog, with the filter conversion it needs.
#include "platform/dialog/save_file_chooser.h"

#include "platform/dialog/dialog.h"

#include <QDialog>
#include <QFileDialog>
#include <QRegularExpression>

#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
SaveFileHandler g_handler;

// The pattern list that a Windows description usually repeats at its end.
const QRegularExpression kTrailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));

QString QtPattern(QString pattern)
{
    pattern = pattern.trimmed();
    return pattern == QStringLiteral("*.*") ? QStringLiteral("*") : pattern;
}

} // namespace

SaveFileHandler SetSaveFileHandler(SaveFileHandler handler)
{
    std::lock_guard lock(g_mutex);
    std::swap(g_handler, handler);
    return handler;
}

QStringList QtNameFilters(const std::wstring& windowsFilter)
{
    const QStringList parts = QString::fromStdWString(windowsFilter).split(QLatin1Char('|'));
    QStringList filters;
    // Description and pattern come in pairs; an empty description ends the list.
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        if (description.isEmpty())
            break;
        description.remove(kTrailingPatterns);
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << QtPattern(pattern);
        filters << QStringLiteral("%1 (%2)").arg(description.trimmed(), patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

std::optional<std::wstring> ChooseSaveFile(Dialog* owner, const SaveFileRequest& request)
{
    SaveFileHandler handler;
    {
        std::lock_guard lock(g_mutex);
        handler = g_handler;
    }
    if (handler)
        return handler(request, owner);

    QFileDialog chooser(owner ? owner->Widget() : nullptr, QString::fromStdWString(request.title));
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setFileMode(QFileDialog::AnyFile);
    // The programs pick existing files with it: no "replace it?" for every pick.
    chooser.setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList filters = QtNameFilters(request.filter);
    if (!filters.isEmpty())
        chooser.setNameFilters(filters);
    if (!request.initialName.empty())
        chooser.selectFile(QString::fromStdWString(request.initialName));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return std::nullopt;
    return chooser.selectedFiles().constFirst().toStdWString();
}

} // namespace platform

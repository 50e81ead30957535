#include "scan/repeatfailures.h"

#include "platform/fs.h"

#include <QSet>

namespace kw {

std::optional<Refusal> refusalOf(int error) {
    switch (fs::problemOf(error)) {
        case fs::Problem::NameRefused:
            return Refusal::NameRefused;
        case fs::Problem::NameTooLong:
            return Refusal::NameTooLong;
        case fs::Problem::TooLarge:
            return Refusal::TooLarge;
        case fs::Problem::NoSpace:
            return Refusal::NoSpace;
        case fs::Problem::NoPermission:
            return Refusal::NoPermission;
        default:
            return std::nullopt;
    }
}

QString refusalText(Refusal refusal) {
    switch (refusal) {
        case Refusal::NameRefused:
            return QStringLiteral("the destination does not accept this file name");
        case Refusal::NameTooLong:
            return QStringLiteral("the file name is too long there");
        case Refusal::TooLarge:
            return QStringLiteral("the file is too large for the destination's file system");
        case Refusal::NoSpace:
            return QStringLiteral("there is not enough free space on the destination");
        case Refusal::NoPermission:
            return QStringLiteral("there is no permission to write there");
        case Refusal::NoFreeNumber:
            return QStringLiteral("every number from 001 to 999 is taken");
        case Refusal::Other:
            break;
    }
    return QStringLiteral("it cannot be renamed");
}

DestinationPlace placeOf(const QString& folder) {
    return {folder, fs::deviceOf(folder)};
}

bool RepeatFailures::holdsBack(const QString& path, const FileIdentity& file,
                               const DestinationPlace& place, qint64 nowMs) const {
    const auto found = m_failures.constFind(path);
    if (found == m_failures.constEnd() || found->file != file || found->place != place ||
        nowMs - found->atMs >= kBackOffMs)
        return false;
    // Space freed meanwhile is a change of the destination too.
    return found->refusal != Refusal::NoSpace || fs::roomFor(place.folder, file.size) != 0;
}

bool RepeatFailures::remember(const QString& path, const FileIdentity& file,
                              const DestinationPlace& place, Refusal refusal, qint64 nowMs) {
    Failure& failure = m_failures[path];
    const bool news = failure.file != file || failure.place != place || failure.refusal != refusal;
    failure = {file, place, refusal, nowMs};
    return news;
}

QList<std::pair<QString, Refusal>> RepeatFailures::refusals() const {
    QList<std::pair<QString, Refusal>> list;
    for (auto it = m_failures.cbegin(); it != m_failures.cend(); ++it)
        list.append({it.key(), it->refusal});
    return list;
}

void RepeatFailures::keepOnly(const QStringList& paths) {
    if (m_failures.isEmpty())
        return;
    const QSet<QString> listed(paths.cbegin(), paths.cend());
    m_failures.removeIf([&](const auto& entry) { return !listed.contains(entry.key()); });
}

}  // namespace kw

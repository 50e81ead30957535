#include "scan/repeatfailures.h"

#include "platform/filemove.h"
#include "platform/fs.h"
#include "platform/heldfolder.h"

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
        case fs::Problem::NoQuota:
            return Refusal::NoQuota;
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
        case Refusal::NoQuota:
            return QStringLiteral("the disk quota on the destination is used up");
        case Refusal::NoEntries:
            return QStringLiteral(
                "the destination's file system has no free file entries "
                "(inodes) left");
        case Refusal::NoPermission:
            return QStringLiteral("there is no permission to write there");
        case Refusal::NoFreeNumber:
            return QStringLiteral("every number from 001 to 999 is taken");
        case Refusal::CannotDelete:
            return QStringLiteral("it may not be deleted from the watched folder");
        case Refusal::Other:
            break;
    }
    return QStringLiteral("it cannot be renamed");
}

bool refusesEveryFile(Refusal refusal) {
    return refusal == Refusal::NoQuota || refusal == Refusal::NoEntries;
}

namespace {

// Free bytes count as grown past what a removed temporary file gives back.
constexpr qint64 kGrowthThatCounts = 1 << 20;

bool grown(const DestinationState& then, const DestinationState& now) {
    return now.movedInto != then.movedInto ||
           (now.freeBytes >= 0 && then.freeBytes >= 0 &&
            now.freeBytes - then.freeBytes >= kGrowthThatCounts) ||
           (now.freeEntries >= 0 && then.freeEntries >= 0 && now.freeEntries > then.freeEntries);
}

}  // namespace

FileIdentity identityOf(const fs::Snapshot& look) {
    return {look.device, look.inode, look.size, look.modifiedNs, look.changedNs};
}

FileIdentity identityOf(const fs::HeldSource& source) {
    return identityOf(source.snapshot());
}

bool RepeatFailures::holdsBack(const QString& path, const FileIdentity& file,
                               const DestinationPlace& place, const fs::HeldFolder& destination,
                               const DestinationState& now, qint64 nowMs) const {
    const auto found = m_failures.constFind(path);
    if (found == m_failures.constEnd() || found->file != file || found->place != place ||
        nowMs - found->atMs >= kBackOffMs)
        return false;
    // Space or file entries freed meanwhile, another file moved there, and a destination that may
    // be written again, are changes too.
    switch (found->refusal) {
        case Refusal::NoSpace:
        case Refusal::NoQuota:
        case Refusal::NoEntries:
            return !grown(found->then, now);
        case Refusal::NoPermission:
            return !destination.writable();
        default:
            return true;
    }
}

bool RepeatFailures::remember(const QString& path, const FileIdentity& file,
                              const DestinationPlace& place, Refusal refusal,
                              const DestinationState& then, qint64 nowMs) {
    const bool news = !known(path, file, place, refusal);
    m_failures[path] = {file, place, refusal, then, nowMs};
    return news;
}

bool RepeatFailures::known(const QString& path, const FileIdentity& file,
                           const DestinationPlace& place, Refusal refusal) const {
    const auto found = m_failures.constFind(path);
    return found != m_failures.constEnd() && found->file == file && found->place == place &&
           found->refusal == refusal;
}

void RepeatFailures::keepOnly(const QStringList& paths) {
    if (m_failures.isEmpty())
        return;
    const QSet<QString> listed(paths.cbegin(), paths.cend());
    m_failures.removeIf([&](const auto& entry) { return !listed.contains(entry.key()); });
}

Problems RepeatFailures::problems() const {
    Problems problems;
    for (auto it = m_failures.cbegin(); it != m_failures.cend(); ++it) {
        switch (it->refusal) {
            case Refusal::NoSpace:
                problems.append({ProblemKind::NoSpace, it.key()});
                break;
            case Refusal::NoQuota:
                problems.append({ProblemKind::NoQuota, it.key()});
                break;
            case Refusal::NoEntries:
                problems.append({ProblemKind::NoEntries, it.key()});
                break;
            case Refusal::NoPermission:
                problems.append({ProblemKind::NoPermission, it.key()});
                break;
            case Refusal::NameRefused:
            case Refusal::NameTooLong:
            case Refusal::TooLarge:
                problems.append({ProblemKind::NameRefused, it.key()});
                break;
            case Refusal::NoFreeNumber:
            case Refusal::CannotDelete:
            case Refusal::Other:
                break;
        }
    }
    return problems;
}

}  // namespace kw

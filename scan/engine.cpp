#include "scan/engine.h"

#include "core/desktop.h"
#include "core/eventlog.h"
#include "core/files.h"
#include "core/germanformat.h"
#include "core/settings.h"
#include "platform/filecopy.h"
#include "platform/fs.h"
#include "scan/bincopy.h"
#include "scan/listing.h"
#include "scan/register.h"
#include "scan/watchdog.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace kw {
namespace {

// Events of one burst come close together: one tick for all of them.
constexpr int kArrivalDelayMs = 100;
constexpr int kYieldEveryMs = 50;
constexpr int kBatchEveryMs = 1000;
// A group of copies is named when it has this many files or bytes, or when its first copy has
// waited kBatchEveryMs. Each waiting copy holds three descriptors.
constexpr size_t kCopiesPerGroup = 100;
constexpr qint64 kBytesPerGroup = 64 * 1024 * 1024;

QString quoted(const QString& text) {
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// Two folder settings name one folder when their resolved paths are equal, or when they reach
// the same folder some other way (a bind mount).
bool sameFolder(const QString& first, const QString& second) {
    const QString a = fs::canonicalPath(first);
    return (!a.isEmpty() && a == fs::canonicalPath(second)) || fs::sameFile(first, second);
}

// The folder itself when it exists, else the nearest folder above it that does.
QString nearestExistingFolder(QString folder) {
    while (!folder.isEmpty() && !fs::isDirectory(folder)) {
        while (folder.endsWith(QLatin1Char('/')))
            folder.chop(1);
        folder = ParentFolder(folder);
    }
    return folder;
}

// True when inner lies strictly below outer.
bool isBelow(const QString& inner, const QString& outer) {
    if (inner == outer)
        return false;
    return outer == QLatin1String("/") || inner.startsWith(AddBackslash(outer));
}

// Where folder stands now: the mount point of the file system its path ends on, and whether
// that file system is one mounted beneath the one it was last seen on, i.e. that one is gone.
struct Whereabouts {
    QString mountPoint;
    bool away = false;
};

Whereabouts whereabouts(const QString& folder, const QString& recordedMountPoint) {
    Whereabouts now;
    now.mountPoint = fs::mountPointOf(nearestExistingFolder(folder));
    now.away = !recordedMountPoint.isEmpty() && !now.mountPoint.isEmpty() &&
               isBelow(recordedMountPoint, now.mountPoint);
    return now;
}

FileIdentity identityOf(const fs::HeldSource& source) {
    const fs::Snapshot& look = source.snapshot();
    return {look.device, look.inode, look.size, look.modifiedNs};
}

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace

ScanEngine::ScanEngine(AppData& data, EventLog& log, Desktop& desktop, QObject* parent)
    : QObject(parent), m_data(data), m_log(log), m_desktop(desktop), m_arrivals([this] {
          fileArrived();
      }) {
    connect(&m_timer, &QTimer::timeout, this, &ScanEngine::Timer_Timer);
    m_arrivalDelay.setSingleShot(true);
    m_arrivalDelay.setInterval(kArrivalDelayMs);
    connect(&m_arrivalDelay, &QTimer::timeout, this, &ScanEngine::runArrivalTick);
}

ScanEngine::~ScanEngine() = default;

void ScanEngine::Timer_Timer() {
    if (m_scanBusy || m_abandoned)
        return;
    m_scanBusy = true;
    m_failure.reset();
    m_log.holdFileLines();
    m_sinceYield.start();
    runTick();
    finishBatch(true);
    if (m_failure && !m_abandoned && m_failure->code > 0 && m_failure->code != kIndexOutOfRange) {
        m_log.WriteLog(QLatin1String("TimerError (") + QString::number(m_failure->code) +
                       QLatin1Char(')'));
        m_log.WriteLog(QLatin1String("ErrorDescription: ") + m_failure->description);
    }
    m_failure.reset();
    reportProblems();
    m_log.releaseFileLines();
    m_scanBusy = false;
    if (m_arrivalTickWanted && !m_abandoned) {
        m_arrivalTickWanted = false;
        m_arrivalDelay.start();
    }
}

void ScanEngine::fileArrived() {
    if (!m_arrivalDelay.isActive())
        m_arrivalDelay.start();
}

void ScanEngine::runArrivalTick() {
    // Before start-up has enabled the timer, and after shutdown, only the timer's ticks count.
    if (m_abandoned || !m_timer.isActive())
        return;
    if (m_scanBusy) {
        m_arrivalTickWanted = true;
        return;
    }
    Timer_Timer();
}

void ScanEngine::setInterval(int seconds) {
    m_timer.stop();
    m_timer.setInterval(seconds * 1000);
    m_timer.start();
}

void ScanEngine::butGoTimer_Click() {
    m_timer.stop();
    m_log.WriteLog(QStringLiteral("Start Scanning..."));
    Timer_Timer();
    if (m_abandoned)
        return;
    m_log.WriteLog(QStringLiteral("Scanning complete !"));
    // An interval of 0 (no valid setting yet) keeps the timer still, as a timer without an
    // interval never fires.
    const int interval = m_data.My.ScanInterval * 1000;
    m_timer.setInterval(interval);
    if (interval > 0)
        m_timer.start();
}

bool ScanEngine::ValidateDirectories() {
    Settings& my = m_data.My;
    bool cleared = false;
    if (!my.Source.isEmpty() &&
        !ensureFolder(my.Source, QLatin1String("Source"),
                      QStringLiteral("Das zu überwachende Verzeichnis %1 ist nicht vorhanden und "
                                     "kann nicht angelegt werden !"),
                      QStringLiteral("Bitte geben Sie ein neues Verzeichnis an, welches überwacht "
                                     "werden soll.")))
        cleared = true;
    // A destination whose file system has gone is waited for, never made on the one beneath.
    // A folder made here lies on the file system of the folder above it, where it was looked for.
    QString mountPoint;
    const bool away = !my.Destination.isEmpty() && checkDestinationAway(&mountPoint);
    if (!my.Destination.isEmpty() && !away) {
        if (ensureFolder(my.Destination, QLatin1String("Destination"),
                         QStringLiteral("Das Zielverzeichnis %1 kann nicht angelegt werden."),
                         QStringLiteral("Bitte geben Sie ein neues Zielverzeichnis an.")))
            usedDestinations().record(my.Destination, mountPoint);
        else
            cleared = true;
    }
    // Copying a folder into itself would find every file "already there" and delete it.
    if (!away && !my.Source.isEmpty() && !my.Destination.isEmpty() &&
        sameFolder(my.Source, my.Destination)) {
        QString folder = fs::canonicalPath(my.Destination);
        reportSameFolder(folder.isEmpty() ? my.Destination : AddBackslash(folder));
        my.Destination.clear();
        cleared = true;
    }
    if (cleared)
        Q_EMIT foldersCleared();
    return !away && !my.Source.isEmpty() && !my.Destination.isEmpty();
}

bool ScanEngine::ensureFolder(QString& folder, QLatin1String setting, const QString& problem,
                              const QString& request) {
    if (FolderExists(folder, true))
        return true;
    m_log.WriteLog(QLatin1String("Error creating Directory My.") + setting + QLatin1Char(' ') +
                   quoted(folder));
    m_desktop.ShowMessage(QStringLiteral("Fehler"),
                          problem.arg(quoted(folder)) + kCrLfText + kCrLfText + request + kCrLfText,
                          MB_ICONERROR);
    folder.clear();
    return false;
}

bool ScanEngine::checkDestinationAway(QString* mountPointNow) {
    const QString folder = m_data.My.Destination;
    const QString recorded = usedDestinations().mountPointOf(folder);
    const Whereabouts now = whereabouts(folder, recorded);
    if (mountPointNow)
        *mountPointNow = now.mountPoint;
    const bool away = now.away;
    if (away && !m_destinationAway) {
        m_log.WriteLog(QLatin1String("Destination gone: waiting for ") + quoted(folder) +
                       QLatin1String(", nothing is mounted at ") + quoted(recorded));
        Q_EMIT destinationWaiting(true, recorded);
    } else if (!away && m_destinationAway) {
        m_log.WriteLog(QLatin1String("Destination back: ") + quoted(folder));
        Q_EMIT destinationWaiting(false, recorded);
    }
    const bool cameBack = m_destinationAway && !away;
    m_destinationAway = away;
    // A copy killed while it was away may have left its temporary file there.
    if (cameBack)
        removeAbandonedCopiesIn(folder);
    return away;
}

void ScanEngine::DestinationChosen() {
    const QString folder = m_data.My.Destination;
    if (!folder.isEmpty() && fs::isDirectory(folder))
        usedDestinations().record(folder, fs::mountPointOf(folder));
}

UsedDestinations& ScanEngine::usedDestinations() {
    if (m_used.file() != m_data.My.UsedDestinationsFile || m_used.mark().isEmpty()) {
        m_used.load(m_data.My.UsedDestinationsFile);
        fs::setPartialMark(m_used.mark());
    }
    return m_used;
}

void ScanEngine::reportSameFolder(const QString& folder) {
    m_log.WriteLog(QLatin1String("Error same Directory for My.Source and My.Destination ") +
                   quoted(folder));
    m_desktop.ShowMessage(
        QStringLiteral("Fehler"),
        QStringLiteral("Das zu überwachende Verzeichnis und das Zielverzeichnis sind dasselbe "
                       "Verzeichnis ") +
            quoted(folder) + QLatin1String(" !") + kCrLfText + kCrLfText +
            QLatin1String("Bitte geben Sie ein anderes Zielverzeichnis an.") + kCrLfText,
        MB_ICONERROR);
}

void ScanEngine::RemoveAbandonedCopies() {
    UsedDestinations& used = usedDestinations();
    for (const QString& folder : used.folders()) {
        if (!fs::isDirectory(folder) || whereabouts(folder, used.mountPointOf(folder)).away)
            continue;
        removeAbandonedCopiesIn(folder);
    }
}

void ScanEngine::removeAbandonedCopiesIn(const QString& folder) {
    const QString prefix = QString::fromLatin1(fs::partialPrefix());
    for (const QString& name : fs::namesStartingWith(folder, prefix)) {
        const QString path = AddBackslash(folder) + name;
        const auto facts = fs::facts(path);
        if (!name.endsWith(QLatin1String(fs::kPartialSuffix)) || !facts ||
            facts->kind != fs::Kind::Regular)
            continue;
        if (fs::removeFile(path) == 0)
            m_log.WriteLog(QLatin1String("Removed abandoned copy ") + quoted(path));
        else
            m_log.WriteLog(QLatin1String("Can't remove abandoned copy ") + quoted(path));
    }
}

void ScanEngine::Abandon() {
    m_abandoned = true;
    m_timer.stop();
    m_arrivalDelay.stop();
    m_arrivals.watch(QString());
    finishBatch(true);
}

void ScanEngine::runTick() {
    // While the destination is away the programs of the task list are still kept running.
    const bool foldersValid = ValidateDirectories();
    if (!foldersValid && !m_destinationAway)
        return;
    Step step = foldersValid ? Step::Restart : Step::Next;
    while (step == Step::Restart)
        step = filePass();
    if (foldersValid)
        keepLooks(step == Step::Next);
    if (step == Step::Stop || !yieldToEvents())
        return;
    if (const int code = TaskWatchdogPass(m_data, m_log, m_desktop, m_LBtask)) {
        fail(code, FailureDescription(code));
        return;
    }
    yieldToEvents();
}

ScanEngine::Step ScanEngine::filePass() {
    const Step step = decideFiles();
    // Before the watched folder is listed again, and before the tick ends, every copy has its
    // name or is gone; shutdown leaves the sources as they are.
    if (m_abandoned)
        m_unnamedCopies.clear();
    else
        nameCopies();
    return step;
}

ScanEngine::Step ScanEngine::decideFiles() {
    m_passSource = m_data.My.Source;
    m_passDestination = m_data.My.Destination;
    m_passPlace = placeOf(m_passDestination);
    const TextArray names = ListFolderFiles(m_passSource);
    m_LBf = names.value_or(QStringList());
    if (!names)
        return fail(kListingFailed, QLatin1String("The watched folder ") + quoted(m_passSource) +
                                        QLatin1String(" cannot be listed"));
    m_arrivals.watch(m_passSource);
    const qsizetype count = m_LBf.size();
    for (qsizetype i = 0; i < count; ++i) {
        if (!yieldNowAndThen())
            return Step::Stop;
        const Step step = decideFile(m_LBf.at(i));
        if (step != Step::Next)
            return step;
        if (copiesDue())
            nameCopies();
    }
    QStringList paths;
    paths.reserve(count);
    for (const QString& name : std::as_const(m_LBf))
        paths.append(m_passSource + name);
    m_repeatFailures.keepOnly(paths);
    return Step::Next;
}

ScanEngine::Step ScanEngine::decideFile(const QString& name) {
    const QString sourcePath = m_passSource + name;
    const QString destinationPath = m_passDestination + name;

    if (FindInArray(m_data.BlockedExtensions, FileExtension(sourcePath).toLower()) >= 0)
        return Step::Next;

    // From here until its name is gone the source stays open: what is compared, copied, moved
    // and deleted is this very file, and a program that opens it for writing makes the move
    // stand back.
    auto held = std::make_unique<fs::HeldSource>();
    fs::HeldSource& source = *held;
    if (!holdSource(source, sourcePath))
        return Step::Next;
    // A failure that will repeat is not tried again until something has changed.
    if (m_repeatFailures.holdsBack(sourcePath, identityOf(source), m_passPlace, nowMs()))
        return Step::Next;

    // Only a destination file with equal contents makes the source a duplicate that is deleted;
    // any other file of that name gets the source renamed. The register only words the deletion:
    // a file moved back by hand matches its key but is not in the destination, and then it is
    // new.
    if (fs::facts(destinationPath)) {
        switch (compareWithDestination(source, destinationPath)) {
            case Twin::Equal: {
                const QString key = CopyKey(sourcePath, source.snapshot().size, source.created());
                DeleteSource(m_log, source, m_data.CopiedFiles.contains(key));
                return Step::Next;
            }
            case Twin::Different:
                return renameCollision(source, destinationPath);
            case Twin::SourceChanged:
                return Step::Next;
            case Twin::Stop:
                return Step::Stop;
        }
    }
    return moveNewFile(std::move(held), destinationPath);
}

bool ScanEngine::holdSource(fs::HeldSource& source, const QString& sourcePath) {
    switch (source.open(sourcePath)) {
        case fs::Hold::Leased:
            return true;
        case fs::Hold::Unleased:
            return settledWithoutLease(source);
        case fs::Hold::OpenForWriting:
            holdBack(sourcePath, QStringLiteral("a program has it open for writing"));
            return false;
        case fs::Hold::Gone:
            return false;
        case fs::Hold::Failed:
            holdBack(sourcePath, QLatin1String("it cannot be opened (") +
                                     fs::errorText(source.error()) + QLatin1Char(')'));
            return false;
    }
    return false;
}

bool ScanEngine::settledWithoutLease(const fs::HeldSource& source) {
    // Nothing tells whether a program still has the file open, so it must have held still for a
    // whole tick and for two seconds: a writer that pauses longer is not told apart from one
    // that has finished.
    constexpr qint64 kSettledNs = 2'000'000'000;
    const fs::Snapshot& now = source.snapshot();
    const auto previous = m_lastLook.constFind(source.path());
    const bool unchanged = previous != m_lastLook.constEnd() && *previous == now;
    m_looksNow.insert(source.path(), now);
    const qint64 nowNs = QDateTime::currentMSecsSinceEpoch() * 1'000'000;
    // The change time tells the age: every write sets it to the clock, while a program may set
    // the modification time to any date, also one in the future.
    if (unchanged && nowNs - now.changedNs >= kSettledNs)
        return true;
    if (previous != m_lastLook.constEnd() && !unchanged)
        holdBack(source.path(), QStringLiteral("it is still being written"));
    else if (const auto note = m_heldBack.constFind(source.path()); note != m_heldBack.constEnd())
        m_heldBackNow.insert(note.key(), note.value());  // still waiting, already said why
    return false;
}

void ScanEngine::holdBack(const QString& sourcePath, const QString& reason) {
    if (m_heldBack.value(sourcePath) != reason && m_heldBackNow.value(sourcePath) != reason)
        m_log.WriteLog(QLatin1String("Waiting for ") + quoted(sourcePath) + QLatin1String(": ") +
                       reason);
    m_heldBackNow.insert(sourcePath, reason);
}

void ScanEngine::keepLooks(bool passCompleted) {
    // A pass that ended early did not look at every file; what it did not see is kept.
    if (passCompleted) {
        m_lastLook = std::exchange(m_looksNow, {});
        m_heldBack = std::exchange(m_heldBackNow, {});
    } else {
        m_lastLook.insert(std::exchange(m_looksNow, {}));
        m_heldBack.insert(std::exchange(m_heldBackNow, {}));
    }
}

ScanEngine::Twin ScanEngine::compareWithDestination(const fs::HeldSource& source,
                                                    const QString& destinationPath) {
    switch (fs::compareContents(source, destinationPath, [this] { return yieldToEvents(); })) {
        case fs::Comparison::Equal:
            return Twin::Equal;
        case fs::Comparison::Interrupted:
            return Twin::Stop;
        case fs::Comparison::SourceChanged:
            if (source.openedForWriting())
                holdBack(source.path(), QStringLiteral("a program has it open for writing"));
            return Twin::SourceChanged;
        case fs::Comparison::Different:
        case fs::Comparison::Failed:
            break;
    }
    return Twin::Different;
}

ScanEngine::Step ScanEngine::moveNewFile(std::unique_ptr<fs::HeldSource> held,
                                         const QString& destinationPath) {
    // The stick may have been pulled since the pass began: the move must not make the folder
    // again on the file system beneath.
    if (!fs::isDirectory(m_passDestination) && !ValidateDirectories())
        return Step::Stop;
    fs::HeldSource& source = *held;
    const QString sourcePath = source.path();
    int code = 0;
    switch (source.moveTo(destinationPath, &m_folderFlushes)) {
        case fs::NameResult::Done:
            m_log.WriteLog(QLatin1String("Move ") + sourcePath + QLatin1String(" -> ") +
                           destinationPath);
            recordMove(sourcePath, destinationPath, source.snapshot().size, source.created());
            return Step::Next;
        case fs::NameResult::NeedsCopy:
            return copyNewFile(std::move(held), destinationPath);
        case fs::NameResult::OpenedForWriting:
            holdBack(sourcePath, QStringLiteral("a program has it open for writing"));
            return Step::Next;
        case fs::NameResult::Gone:
            return Step::Next;
        case fs::NameResult::Changed:
            code = kSourceChanged;
            break;
        case fs::NameResult::DestinationExists:
            code = kDestinationExists;
            break;
        case fs::NameResult::Failed:
            code = kSystemFailure + source.error();
            break;
    }
    // The file stays where it is and is looked at again on the next tick.
    m_log.WriteLog(QLatin1String("MoveError (") + QString::number(code) + QLatin1String(") ") +
                   sourcePath + QLatin1String(" -> ") + destinationPath);
    if (code > kSystemFailure)
        rememberRefusal(source, code - kSystemFailure);
    return Step::Next;
}

ScanEngine::Step ScanEngine::copyNewFile(std::unique_ptr<fs::HeldSource> source,
                                         const QString& destinationPath) {
    const QString sourcePath = source->path();
    // A copy long enough to yield would keep the waiting ones from their names all that while.
    if (source->snapshot().size > kCopyChunk)
        nameCopies();
    m_log.WriteLog(QLatin1String("Copy ") + sourcePath + QLatin1String(" -> ") + destinationPath);
    CopyReport report;
    auto copy = std::make_unique<fs::StagedCopy>();
    const int result = BinCopy(
        m_desktop, sourcePath, ParentFolder(destinationPath), true,
        QStringLiteral("Neue Datei kopieren"), &report, [this] { return !m_abandoned; },
        source.get(), copy.get());
    if (m_abandoned)
        return Step::Stop;
    if (result != kCopied) {
        reportCopyFailure(*source, result, report);
        return Step::Next;
    }
    // The copy holds what the source held when it was opened, which is what the register and
    // the statistics must describe once it has its name.
    if (m_unnamedCopies.empty())
        m_sinceFirstUnnamed.start();
    m_unnamedCopies.push_back({std::move(source), std::move(copy), destinationPath});
    return Step::Next;
}

bool ScanEngine::copiesDue() const {
    if (m_unnamedCopies.empty())
        return false;
    qint64 bytes = 0;
    for (const UnnamedCopy& unnamed : m_unnamedCopies)
        bytes += unnamed.copy->copied();
    return m_unnamedCopies.size() >= kCopiesPerGroup || bytes >= kBytesPerGroup ||
           m_sinceFirstUnnamed.elapsed() >= kBatchEveryMs;
}

void ScanEngine::nameCopies() {
    std::vector<UnnamedCopy> group = std::exchange(m_unnamedCopies, {});
    if (group.empty())
        return;
    // A destination whose stick was pulled meanwhile takes none of them: one line, not one per
    // file, and the files wait in the watched folder.
    if (checkDestinationAway()) {
        m_log.WriteLog(QLatin1String("Copies discarded (") + QString::number(group.size()) +
                       QLatin1String("), the destination is gone; their files stay in ") +
                       quoted(m_passSource));
        return;
    }
    // One flush of the destination's file system writes out every copy of the group; where it
    // cannot vouch for that, each copy is flushed on its own before it gets its name.
    const bool durable = fs::flushFileSystemOf(m_passDestination);
    fs::FolderFlushes named;
    std::vector<UnnamedCopy*> published;
    for (UnnamedCopy& unnamed : group) {
        const int error =
            unnamed.copy->publish(FileNameOf(unnamed.destinationPath), &named, durable);
        if (error == 0) {
            published.push_back(&unnamed);
            continue;
        }
        CopyReport report;
        report.bytes = unnamed.copy->copied();
        report.partialFile = unnamed.copy->partialPath();
        report.partialRemoved = unnamed.copy->discard() == 0;
        reportCopyFailure(*unnamed.source, CopyResultOf(error), report);
    }
    // A source goes only once its copy's name is on disk.
    const int flushError = named.flush();
    for (UnnamedCopy* unnamed : published) {
        fs::HeldSource& source = *unnamed->source;
        if (flushError != 0) {
            // The copy stands under its name; the next tick finds it equal and deletes the source.
            m_log.WriteLog(QLatin1String("Source kept: ") + quoted(source.path()) +
                           QLatin1String(", the name of its copy may not be on disk yet (") +
                           fs::errorText(flushError) + QLatin1Char(')'));
            continue;
        }
        recordMove(source.path(), unnamed->destinationPath, unnamed->copy->copied(),
                   source.created());
        DeleteSource(m_log, source, true);
    }
}

void ScanEngine::reportCopyFailure(const fs::HeldSource& source, int result,
                                   const CopyReport& report) {
    // Only what this copy wrote is removed; a destination file it did not write stays.
    QString text = QLatin1String("CopyError (") + QString::number(result) +
                   QLatin1String(") - Delete Destination.....");
    text += report.partialRemoved ? QStringLiteral("Success")
                                  : QLatin1String("Can't Delete ") + quoted(report.partialFile);
    m_log.WriteLog(text);
    if (result > kSystemFailure && result < kSourceChanged)
        rememberRefusal(source, result - kSystemFailure);
}

bool ScanEngine::rememberRefusal(const fs::HeldSource& source, int error) {
    const std::optional<Refusal> refusal = refusalOf(error);
    return refusal && rememberRefusal(source, *refusal);
}

bool ScanEngine::rememberRefusal(const fs::HeldSource& source, Refusal refusal) {
    if (!m_repeatFailures.remember(source.path(), identityOf(source), m_passPlace, refusal,
                                   nowMs()))
        return false;
    // The one failure the cycle has always reported in its own words.
    if (refusal == Refusal::NoFreeNumber) {
        m_log.WriteLog(QLatin1String("TimerError (") + QString::number(kInvalidArgument) +
                       QLatin1Char(')'));
        m_log.WriteLog(QLatin1String("ErrorDescription: No free number from 001 to 999 for ") +
                       quoted(FileNameOf(source.path())) + QLatin1String(" in ") +
                       quoted(m_passDestination));
        return true;
    }
    m_log.WriteLog(QLatin1String("Not moved: ") + quoted(source.path()) + QLatin1String(", ") +
                   refusalText(refusal) +
                   QLatin1String("; tried again when the file or the destination changes, or in ") +
                   QString::number(RepeatFailures::kBackOffMs / 60'000) +
                   QLatin1String(" minutes"));
    return true;
}

void ScanEngine::recordMove(const QString& sourcePath, const QString& destinationPath, qint64 size,
                            const QDateTime& created) {
    Settings& my = m_data.My;
    const QString key = CopyKey(sourcePath, size, created);
    if (!my.SoundFile.isEmpty())
        m_desktop.PlaySoundFile(1, my.SoundFile);
    // The file is safe in the destination either way, and a register hit alone deletes nothing,
    // so a register that cannot be written costs only its line; that must not go unnoticed.
    if (!AppendToFile(my.CopyListFile, key))
        m_log.WriteLog(QLatin1String("Can't write ") + quoted(sourcePath) +
                       QLatin1String(" into the register ") + quoted(my.CopyListFile));
    m_data.CopiedFiles.append(key);
    Q_EMIT statisticsChanged(CountSavedFile(my, size));
    m_statisticsUnwritten = true;
    finishBatch(false);
    addToLBfiles(destinationPath);
}

void ScanEngine::addToLBfiles(const QString& destinationPath) {
    // The list stays in alphabetical order, so a burst finds each place by halving.
    const auto [position, end] = std::equal_range(
        m_LBfiles.begin(), m_LBfiles.end(), destinationPath,
        [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    if (std::find(position, end, destinationPath) != end)
        return;
    const auto row = int(position - m_LBfiles.begin());
    m_LBfiles.insert(position, destinationPath);
    Q_EMIT copiedFileAdded(row, destinationPath);
}

void ScanEngine::finishBatch(bool evenIfRecent) {
    if (!evenIfRecent && m_sinceBatchFinished.isValid() &&
        m_sinceBatchFinished.elapsed() < kBatchEveryMs)
        return;
    m_folderFlushes.flush();
    if (m_statisticsUnwritten) {
        WriteStatistics(m_data.My);
        m_statisticsUnwritten = false;
    }
    m_sinceBatchFinished.start();
}

ScanEngine::Step ScanEngine::renameCollision(const fs::HeldSource& source,
                                             const QString& destinationPath) {
    const QString sourcePath = source.path();
    const QString base = FileNameOf(destinationPath);
    // Each way this can fail ends the work on this file only; the pass goes on with the next.
    for (int k = 1; k <= 999; ++k) {
        const QString candidate = QStringLiteral("%1 ").arg(k, 3, 10, QLatin1Char('0')) + base;
        // Any entry of that name counts, also a folder or a link, as none may be replaced.
        int error = 0;
        if (fs::facts(m_passDestination + candidate, &error))
            continue;
        if (fs::problemOf(error) == fs::Problem::NameTooLong) {
            rememberRefusal(source, Refusal::NameTooLong);
            return Step::Next;
        }
        m_log.WriteLog(QLatin1String("Renaming ") + sourcePath + QLatin1String(" -> ") + candidate);
        error = fs::renameNoReplace(sourcePath, ParentFolder(sourcePath) + candidate);
        if (error == 0)
            return Step::Restart;
        // Taken in the watched folder: the next number.
        if (fs::problemOf(error) == fs::Problem::Exists)
            continue;
        rememberRefusal(source, refusalOf(error).value_or(Refusal::Other));
        return Step::Next;
    }
    rememberRefusal(source, Refusal::NoFreeNumber);
    return Step::Next;
}

bool ScanEngine::yieldToEvents() {
    QCoreApplication::processEvents();
    m_sinceYield.start();
    return !m_abandoned;
}

bool ScanEngine::yieldNowAndThen() {
    return m_sinceYield.elapsed() < kYieldEveryMs || yieldToEvents();
}

void ScanEngine::reportProblems() {
    Problems now;
    if (m_destinationAway)
        now.append({ProblemKind::DestinationGone, m_data.My.Destination});
    for (const auto& [path, refusal] : m_repeatFailures.refusals()) {
        switch (refusal) {
            case Refusal::NoSpace:
                now.append({ProblemKind::NoSpace, path});
                break;
            case Refusal::NoPermission:
                now.append({ProblemKind::NoPermission, path});
                break;
            case Refusal::NameRefused:
            case Refusal::NameTooLong:
            case Refusal::TooLarge:
                now.append({ProblemKind::NameRefused, path});
                break;
            case Refusal::NoFreeNumber:
            case Refusal::Other:
                break;
        }
    }
    if (now == m_problems)
        return;
    m_problems = now;
    Q_EMIT problemsChanged(m_problems);
}

ScanEngine::Step ScanEngine::fail(int code, const QString& description) {
    m_failure = Failure{code, description};
    return Step::Stop;
}

}  // namespace kw

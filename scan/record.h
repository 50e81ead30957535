#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

namespace kw {

struct AppData;
class Desktop;
class EventLog;

// What the program keeps of each file it moved: the sound, the register line and the key in
// memory, the statistics and the list of this run's copies. It touches the register file, the
// statistics in the settings, and nothing in the watched or destination folder.
class Record : public QObject {
    Q_OBJECT

public:
    Record(AppData& data, EventLog& log, Desktop& desktop);

    // The success steps of a move, up to but without the removal of the source. The register
    // line comes first, so a run killed before the source is gone still knows the file.
    void recordMove(const QString& soundFile, const QString& sourcePath,
                    const QString& destinationPath, qint64 size, const QDateTime& created);
    // Writes the statistics counted since the last time to the settings file; the scheduler
    // calls it at most once a second during a burst and at the end of every tick.
    void writeStatistics();

    // Destination paths of this run's copies, each at most once, in alphabetical order.
    QStringList& LBfiles() { return m_LBfiles; }

Q_SIGNALS:
    void statisticsChanged(const QString& caption);
    // destinationPath now stands at row of LBfiles.
    void copiedFileAdded(int row, const QString& destinationPath);

private:
    void addToLBfiles(const QString& destinationPath);

    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    QStringList m_LBfiles;
    bool m_statisticsUnwritten = false;
};

}  // namespace kw

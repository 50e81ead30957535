#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

namespace kw {

struct AppData;
class Desktop;
class EventLog;
struct Settings;

// What the program keeps of each file it moved: the sound, the register line and the key in
// memory; the statistics and the list of this run's copies it hands on. It touches the register
// file, and nothing in the watched or destination folder.
class Record : public QObject {
    Q_OBJECT

public:
    Record(AppData& data, const Settings& my, EventLog& log, Desktop& desktop);

    // The success steps of a move, up to but without the removal of the source. The register
    // line comes first, so a run killed before the source is gone still knows the file.
    void recordMove(const QString& soundFile, const QString& sourcePath,
                    const QString& destinationPath, qint64 size, const QDateTime& created);

Q_SIGNALS:
    // A file of size bytes was saved: it now stands at destinationPath.
    void moveRecorded(const QString& destinationPath, qint64 size);

private:
    AppData& m_data;
    const Settings& m_my;
    EventLog& m_log;
    Desktop& m_desktop;
};

}  // namespace kw

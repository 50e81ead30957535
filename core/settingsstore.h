#pragma once

#include "core/settings.h"

#include <QString>

namespace kw {

// The one place that changes a setting: each setter updates the field of My and writes its
// section of the settings file in the same step, so the file never lags behind the window. The
// exceptions say so: a folder given up for this run, and the statistics of a burst.
class SettingsStore {
public:
    explicit SettingsStore(Settings& my) : m_my(my) {}

    // Fills My from the settings file. A number that cannot be read gives 0 (no colour, no valid
    // interval, no statistics).
    void load();
    // The interval as the file holds it, for the message about an interval out of range.
    QString storedScanInterval() const;

    void setSource(const QString& folder);
    void setDestination(const QString& folder);
    void setScanInterval(int seconds);
    // An interval for now, in memory only: the window writes it when it applies it.
    void assumeScanInterval(int seconds) { m_my.ScanInterval = seconds; }
    void setSoundFile(const QString& file);
    void setControlColor(qint32 color);
    // A folder that cannot be used is given up in memory only: the file keeps it, so the next
    // start looks for it again.
    void forgetSource() { m_my.Source.clear(); }
    void forgetDestination() { m_my.Destination.clear(); }

    // Statistics from zero, written at once.
    void resetStatistics();
    // One more saved file of size bytes (its megabytes rounded to two decimals, halves to even),
    // in memory only, so that a burst writes the file once.
    void countSavedFile(qint64 size);
    // Writes the statistics My holds now.
    void storeStatistics();

private:
    void set(QString& field, const char* key, const QString& value);
    void write(const char* key, const QString& value);
    QString read(const char* key) const;

    Settings& m_my;
};

// Deletes a copied file on the user's word. 0 when nothing stands under the name any more
// (deleted now, or gone already); else the failure code, and the name is still there.
int DeleteCopiedFile(const QString& path);

}  // namespace kw

#pragma once

#include "core/settings.h"

#include <QString>

namespace kw {

// The one place that changes a setting: each setter updates the field of My and writes its
// section of the settings file in the same step, so the file never lags behind the window.
class SettingsStore {
public:
    explicit SettingsStore(Settings& my) : m_my(my) {}

    // Fills My from the settings file. A number that cannot be read gives 0 (no colour, no valid
    // interval); statistics that cannot be read give "0".
    void load();
    // The interval as the file holds it, for the message about an interval out of range.
    QString storedScanInterval() const;

    void setSource(const QString& folder);
    void setDestination(const QString& folder);
    void setScanInterval(int seconds);
    void setSoundFile(const QString& file);
    void setControlColor(qint32 color);
    void setStatistics(const QString& megabytes, const QString& fileCount);
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

#pragma once

#include <QString>

namespace kw {

// The folder of the files an installed program ships with (the copy sound), found this far from
// the executable's folder: "../share/kopierwart" for a program installed under /usr/bin.
#ifdef KOPIERWART_DATA_FROM_BINDIR
inline constexpr char kDataFromBinDir[] = KOPIERWART_DATA_FROM_BINDIR;
#else
inline constexpr char kDataFromBinDir[] = "../share/kopierwart";
#endif

// The installed program's shipped-data folder, ending with "/"; empty when there is none beside
// the executable, i.e. the program runs from a build folder or a folder of its own.
QString installedDataFolder(const QString& executablePath,
                            const QString& dataFromBinDir = QLatin1String(kDataFromBinDir));

// Puts a copy of the shipped sound at target unless a file of that name is there already: the
// user's own sound is never replaced. A failure says why in *failure.
enum class SoundProvided { Copied, AlreadyThere, Failed };
SoundProvided provideSound(const QString& shippedSound, const QString& target, QString* failure);

}  // namespace kw

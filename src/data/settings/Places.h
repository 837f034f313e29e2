// Where the program keeps its files. One program, two layouts:
//
// Portable: the program's folder is the program's home. VRK.ini and the
// alias registry aliases.ini lie beside the program file, and fetched files
// go to Download in the working directory, which the program never creates.
//
// Installed: the program lies in a folder its user cannot write (a package
// under /usr). Every user has places of his own, after the XDG base
// directories: VRK.ini and aliases.ini in $XDG_CONFIG_HOME/VRKSearch
// (~/.config), the catalogue in $XDG_DATA_HOME/VRKSearch/db
// (~/.local/share), copied there from the installed read-only catalogue on
// the first start, and downloads in $XDG_DOWNLOAD_DIR/VRKSearch
// (~/Downloads). Nothing is written beside the program.
//
// The environment reaches these functions as a parameter; main passes the
// process's own. UI thread only.
#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace vrk {

// The directory that receives fetched files in the portable layout,
// relative to the working directory.
inline const char* const kPortableDownloadDir = "Download";

enum class TLayout { Portable, Installed };

struct TPlaces {
  TLayout layout = TLayout::Portable;
  // The settings file VRK.ini.
  QString settingsFile;
  // The directory of the alias registry aliases.ini; a relative PATH of an
  // alias is read against it.
  QString aliasDir;
  // The directory of fetched files; a relative one is read against the
  // working directory.
  QString downloadDir;
  // Installed: the user's catalogue, which the alias names when the program
  // writes aliases.ini; portable: empty (the alias says).
  QString catalogueDir;
};

// Portable where the program's folder holds a writable VRK.ini, or where it
// is no package's folder (aliases.ini beside the program, or no
// ../share/vrksearch/db) and the user may write it; installed otherwise. A
// package's folder is installed even for a user who may write it (root),
// so that nothing is written under /usr.
TLayout programLayout(const QString& programDir);

// VRK.ini and aliases.ini in programDir, kPortableDownloadDir.
TPlaces portablePlaces(const QString& programDir);

// The user's base directories, absolute.
struct TUserDirs {
  QString configHome;
  QString dataHome;
  QString downloadDir;
};

// From HOME (else the password database's home), XDG_CONFIG_HOME (else
// ~/.config), XDG_DATA_HOME (else ~/.local/share) and XDG_DOWNLOAD_DIR
// (else the XDG_DOWNLOAD_DIR line of user-dirs.dirs in the configuration
// home, else ~/Downloads). A value that is empty or relative counts as
// unset.
TUserDirs userDirs(const QProcessEnvironment& env);

// The installed layout's places: the VRKSearch folder in each base
// directory, the catalogue in its db folder.
TPlaces userPlaces(const TUserDirs& dirs);

// The read-only catalogue an installed program starts from: the database
// directory of the alias Quorvane in programDir's aliases.ini where there
// is one, else ../share/vrksearch/db beside programDir.
QString installedCatalogue(const QString& programDir);

// Makes the user's places: the folders of the settings, the catalogue and
// the downloads; aliases.ini naming the user's catalogue where there is
// none; and the catalogue, copied whole from installed where the user has
// none (into a hidden folder first, renamed into place once complete, so
// that an interrupted first start copies again). Leaves everything the
// user already has as it is. Raises Exception naming what could not be
// made; what was made before stays.
void prepareUserPlaces(const TPlaces& places, const QString& installed);

// The places of the program in programDir. Installed: prepared first; a
// failure goes to the error display and the places are returned all the
// same (the program then reports what it misses where it needs it).
TPlaces programPlaces(const QString& programDir, const QProcessEnvironment& env);

}  // namespace vrk

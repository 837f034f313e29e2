// The catalogue refresh without its window: what the main window's "Get
// Database" and `vrk getdb` both run once they have bound their transfer
// handlers into the data module's relay slots.
//
// Download below stands for the data module's download directory
// (downloadDir(): Download in the working directory in the portable layout,
// the user's downloads folder when installed).
//
// GetDatabase first refuses a PATH the install would refuse (below), before
// any question. It then fetches the catalogue's Zip file from the mirror
// into Download (FetchFromMirror, which may ask before connecting) and
// unpacks it into a private hidden folder of its own inside Download
// (TStagingDir), which goes when the command ends, however it ends; so
// nothing of the archive mixes with what Download holds. It disconnects the
// HTTP component and installs the catalogue tables from that folder. An
// error of the fetch (no connection, an error reply, a cut transfer) ends
// it: nothing is installed and nothing is reported as ready; so does a
// catalogue archive that was not unpacked whole (msg::CatalogueNotUnpacked:
// not a Zip file, a member that failed its check or could not be written),
// which stays in Download. When nothing was unpacked (the connect question
// declined, UnzipFile off) the install takes the catalogue tables that
// Download already holds.
//
// InstallCatalogue makes the install steps on what Download holds: it
// takes the database directory from the alias's PATH, asks whether to
// overwrite the database at PATH (a warning box) unless OverwriteData is
// on, and on Yes closes the catalogue and puts the catalogue tables into
// the database directory all at once (TCatalogueSwap), deleting them from
// Download afterwards when DeleteUnzip is on. Then, in every case, it
// normalises the flags of the files table and shows msg::Ready.
//
// Only the catalogue's tables are installed: the regular files named
// FILES.DB, MIRRORS.DB and FILESCAT.DB (compared without case), each under
// the name the store reads. Every other file stays where it is. Each table
// is rebuilt, not copied: the program writes a fresh file with the
// catalogue's own table definition from the checked rows of the incoming
// one (rebuildCatalogueTable), so nothing of its schema (triggers, views,
// indexes, other tables) comes along. A file that fails the check, a
// rollback journal of a table, two files for one table, and a PATH that is
// missing or names the program's folder or Download refuse the install with
// a message and leave the database directory as it was. Any failure ends
// the command with its error: no normalisation, no msg::Ready.
//
// UI thread only; pumps no messages. A relative download directory is read
// against the process's current directory.
#pragma once

#include "CatalogueSwap.h"

namespace vrk {

class TVRKData;

// What the install shows while it runs; the main window shows it on its
// animation control and status bar, `vrk getdb` on standard error.
class TInstallView {
 public:
  virtual ~TInstallView() = default;
  // The built-in copy animation loaded, centred, shown and playing.
  virtual void ShowCopying() = 0;
  // The animation hidden and stopped.
  virtual void HideCopying() = 0;
  // msg::Ready in the status panel.
  virtual void ShowReady() = 0;
};

// The catalogue's Zip file below the mirror's /ftp/ tree.
inline constexpr char kCatalogueArchive[] = "resource/vrk_db.zip";

// The fetch, the disconnect and the install. Requires: the caller bound the
// relay slots to its own handlers.
void GetDatabase(TVRKData& data, TInstallView& view, const TInstallHook& hook = {});

// The install steps, from reading PATH to msg::Ready. hook: see TInstallHook
// (the crash tests' stopping points; empty in the program).
void InstallCatalogue(TVRKData& data, TInstallView& view, const TInstallHook& hook = {});

}  // namespace vrk

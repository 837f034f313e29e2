// The catalogue refresh without its window: what the main window's "Get
// Database" and `vrk getdb` both run once they have bound their transfer
// handlers into the data module's relay slots.
//
// Download below stands for the data module's download directory
// (downloadDir(): Download in the working directory in the portable layout,
// the user's downloads folder when installed).
//
// GetDatabase fetches the catalogue's Zip file from the mirror into
// Download (FetchFromMirror, which may ask before connecting and unpacks
// it there), disconnects the HTTP component and installs. An error of the
// fetch (no connection, an error reply, a cut transfer) ends it: nothing is
// installed and nothing is reported as ready; so does a catalogue archive
// that was not unpacked whole (msg::CatalogueNotUnpacked: not a Zip file, a
// member that failed its check or could not be written), which stays in
// Download. A declined connect question is no error: the install runs on
// what Download holds.
//
// InstallCatalogue makes the install steps: it takes the database
// directory from the alias's PATH, asks whether to overwrite the database
// at PATH (a warning box) unless OverwriteData is on, and on Yes closes the
// catalogue, lists what Download holds (CollectFiles Download + "/", archive
// kind, "*.*") and puts it into the database directory all at once
// (TCatalogueSwap), deleting it from Download afterwards when DeleteUnzip is
// on. Then, in every case, it normalises the flags of the files table and
// shows msg::Ready.
//
// Before anything is copied every file named like a catalogue table must
// pass the table check (CatalogueCheck.h); a file that fails it, a rollback
// journal of a table among the files, or a missing PATH refuses the install
// with a message and leaves the database directory as it was. Any failure
// ends the command with its error: no normalisation, no msg::Ready.
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
  // The animation stopped, then hidden.
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

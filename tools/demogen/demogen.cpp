// demogen: writes a realistic, deterministic demo catalogue of the Quorvane
// archive (FILES.DB, MIRRORS.DB, FILESCAT.DB), optionally the catalogue Zip
// and a mirror tree with one small real Zip per entry (its true length the
// entry's FileSize) and an index page at its root, and an alias file.
//
//   demogen --out DIR [--rows N] [--seed S] [--aliases FILE]
//           [--zip FILE] [--mirror DIR]
#include "Schema.h"

#include <sqlite3.h>
#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using vrk::TFieldType;

namespace {

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "demogen: %s\n", what.c_str());
  std::exit(1);
}

void exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK)
    die(std::string(sql) + ": " + (err ? err : "?"));
}

sqlite3* createTable(const fs::path& file, const char* table, const std::vector<vrk::schema::Column>& cols) {
  fs::remove(file);
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) die("cannot create " + file.string());
  exec(db, "PRAGMA journal_mode=DELETE");
  exec(db, "PRAGMA synchronous=OFF");
  exec(db, vrk::schema::createTableSql(table, cols).constData());
  return db;
}

sqlite3_stmt* prepareInsert(sqlite3* db, const char* table, std::size_t n) {
  std::string sql = std::string("INSERT INTO ") + table + " VALUES (";
  for (std::size_t i = 0; i < n; ++i) sql += i ? ",?" : "?";
  sql += ")";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) die(sqlite3_errmsg(db));
  return st;
}

void bindText(sqlite3_stmt* st, int i, const std::string& s) {
  sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void stepReset(sqlite3* db, sqlite3_stmt* st) {
  if (sqlite3_step(st) != SQLITE_DONE) die(sqlite3_errmsg(db));
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
}

const char* const kCategories[] = {
    "Buttons", "Grids",     "Charts",      "Database",   "Internet",       "Dialogs",
    "Editors", "Graphics",  "Multimedia",  "Printing",   "Reports",        "System",
    "Tools",   "Tutorials", "Compression", "Encryption", "Communications", "Games",
    "Menus",   "Panels",    "Labels",      "Edits",      "Lists",          "Trees",
    "Sound",   "Effects",   "Calendars",   "Math",       "Strings",        "Misc",
};

struct Mirror {
  const char* continent;
  const char* country;
  const char* url;
  const char* provider;
};

const Mirror kMirrors[] = {
    {"Europe", "Germany", "http://localhost:8081", "Demo mirror (local)"},
    // The same tree over HTTPS, with the demo's own CA (scripts/demo hands it
    // to the program through SSL_CERT_FILE).
    {"Europe", "Germany", "https://localhost:8443", "Demo mirror over HTTPS (local)"},
    // Mirrors fail as real ones do: a server that is down (nothing listens on
    // the port, the connection is refused), and names that do not resolve
    // (the .example names below).
    {"Europe", "Netherlands", "http://127.0.0.1:9", "Closed Mirror (server down)"},
    {"Europe", "Austria", "http://quorvane.univie.example", "Universität Wien"},
    {"Europe", "France", "http://miroir.quorvane.example.fr", "Réseau Miroir"},
    {"Europe", "Sweden", "http://ftp.quorvane.example.se", "Nordic Archive Group"},
    {"North America", "USA", "http://us.quorvane.example.com", "Westcoast Mirrors Inc."},
    {"North America", "Canada", "http://ca.quorvane.example.ca", "Maple Net"},
    {"South America", "Brazil", "http://br.quorvane.example.br", "Espelho Brasil"},
    {"South America", "Chile", "http://cl.quorvane.example.cl", "Red Académica"},
    {"Asia", "Japan", "http://jp.quorvane.example.jp", "Tokyo Archive Service"},
    {"Asia", "Singapore", "http://sg.quorvane.example.sg", "Lion City Net"},
    {"Australia", "Australia", "http://au.quorvane.example.au", "Southern Cross Mirrors"},
    {"Africa", "South Africa", "http://za.quorvane.example.za", "Cape Data"},
};

const char* const kStems[] = {"Grid",  "Button", "Zip",   "Chart", "Query",  "Edit",  "Tree",     "Mail",
                              "Ftp",   "Http",   "Calc",  "Print", "Report", "Sound", "Image",    "Crypt",
                              "Menu",  "Panel",  "Label", "Dock",  "Spin",   "Tab",   "Calendar", "Clock",
                              "Gauge", "Shell",  "Reg",   "Ini",   "Serial", "Socket"};
const char* const kSuffixes[] = {"Pro", "Lite", "Plus", "Kit", "Pack", "X", "Suite", "Tools", "Lib", "VCL"};
const char* const kDirs[] = {"d10", "d20", "d30", "d40", "d50", "d60",
                             "c10", "c30", "c40", "c50", "j10", "k10"};
const char* const kSubDirs[] = {"comp", "grid", "db", "inet", "dlg", "misc", "graph", "sys", "tools", "util"};

const char* const kSentences[] = {
    "A fast and flexible grid component with in-place editing.",
    "Supports sorting, filtering and printing of the displayed data.",
    "Includes full source code and a demo project.",
    "Freeware for private and commercial use.",
    "Compresses and extracts Zip archives without an external DLL.",
    "Draws line, bar and pie charts with a legend.",
    "Sends and receives mail over SMTP and POP3.",
    "Für deutsche Anwender gibt es eine übersetzte Hilfe.",
    "Enthält Beispiele für Datenbankzugriffe über Aliase.",
    "Très simple à utiliser, avec une documentation complète.",
    "Works with Paradox and dBASE tables through the table engine.",
    "Adds a calendar drop-down to any edit field.",
    "Reads and writes initialisation files with sections and keys.",
    "Wraps the Windows sockets API in an easy component.",
    "Shows an animated progress bar while copying files.",
    "Renders bitmaps with transparency and alpha blending.",
    "Provides a tree view bound to a self-referencing table.",
    "Encrypts strings and streams with a symmetric cipher.",
    "Plays WAV and MIDI files in the background.",
    "Größere Projekte profitieren von der schnellen Suche.",
    "Ships with help files and a tutorial for beginners.",
    "Registered users receive free updates for one year.",
};

struct Rng {
  std::mt19937_64 gen;
  explicit Rng(std::uint64_t seed) : gen(seed) {}
  int below(int n) { return static_cast<int>(gen() % static_cast<std::uint64_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }
};

std::string date(Rng& r) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", 1996 + r.below(7), 1 + r.below(12), 1 + r.below(28));
  return buf;
}

void writeEntryZip(const fs::path& file, const std::string& name);

// With a mirror, each entry's Zip is written there as its row is made; the
// row's FileSize is that Zip's true length, with or without a mirror.
void writeFiles(const fs::path& dir, long rows, Rng& r, const fs::path& mirror) {
  const auto& cols = vrk::schema::filesColumns();
  sqlite3* db = createTable(dir / "FILES.DB", "FILES", cols);
  sqlite3_stmt* st = prepareInsert(db, "FILES", cols.size());
  exec(db, "BEGIN");
  const int categories = static_cast<int>(std::size(kCategories));
  for (long n = 0; n < rows; ++n) {
    const std::string stem = kStems[r.below(std::size(kStems))];
    const std::string name = stem + kSuffixes[r.below(std::size(kSuffixes))] + std::to_string(n) + ".zip";
    const std::string vrkDir =
        std::string(kDirs[r.below(std::size(kDirs))]) + "/" + kSubDirs[r.below(std::size(kSubDirs))];
    std::string desc;
    const int sentences = 2 + r.below(4);
    for (int s = 0; s < sentences; ++s) {
      if (s) desc += ' ';
      desc += kSentences[r.below(std::size(kSentences))];
    }
    desc += " Entry " + std::to_string(n) + " of the " + stem + " family.";
    // Category ids 1..31 without 13: a gap in the ids.
    int cat = 1 + r.below(categories);
    if (cat >= 13) ++cat;
    for (std::size_t c = 0; c < cols.size(); ++c) {
      const int i = static_cast<int>(c) + 1;
      const auto& col = cols[c];
      const std::string cname = col.name;
      if (col.type == TFieldType::ftBoolean) {
        if (r.chance(12))
          sqlite3_bind_null(st, i);  // empty flags for NormaliseFlags
        else
          sqlite3_bind_int(st, i, r.chance(cname == "Free" || cname == "WithSource" ? 50 : 30) ? 1 : 0);
      } else if (cname == "FileName")
        bindText(st, i, name);
      else if (cname == "VRKDir")
        bindText(st, i, vrkDir);
      else if (cname == "FileCatID")
        sqlite3_bind_int(st, i, cat);
      else if (cname == "FileGrpID" || cname == "PlatformID")
        sqlite3_bind_int(st, i, r.below(20));
      else if (cname == "Description")
        bindText(st, i, desc);
      else if (cname == "FileVersion")
        bindText(st, i,
                 std::to_string(1 + r.below(5)) + "." + std::to_string(r.below(10)) + "." +
                     std::to_string(r.below(100)));
      else if (cname == "Created" || cname == "Changed")
        bindText(st, i, date(r));
      else if (cname == "FileSize") {
        r.below(2000000);  // drawn as before, so that the other columns stay as they were
        // Without a mirror the Zip is made only for its length, so that a
        // catalogue and a mirror made with the same seed agree.
        const fs::path zip = mirror.empty() ? dir / ".entry.zip" : mirror / "ftp" / vrkDir / name;
        writeEntryZip(zip, name);
        sqlite3_bind_int64(st, i, static_cast<sqlite3_int64>(fs::file_size(zip)));
        if (mirror.empty()) fs::remove(zip);
      } else if (cname == "SourceAvail")
        bindText(st, i, r.chance(50) ? "Yes" : "No");
      else if (cname == "ShareProt")
        bindText(st, i, r.chance(70) ? "Free" : "Share");
      else if (cname == "FileTitle")
        bindText(st, i, (stem + " component").substr(0, 25));
      else if (cname == "Condition")
        bindText(st, i, r.chance(70) ? "Freeware" : "Shareware, registration required");
      else if (cname == "ExtDescFile")
        sqlite3_bind_null(st, i);
      else if (col.type == TFieldType::ftInteger)
        sqlite3_bind_int(st, i, r.below(100000));
      else
        sqlite3_bind_null(st, i);
    }
    stepReset(db, st);
  }
  exec(db, "COMMIT");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

void writeMirrors(const fs::path& dir) {
  const auto& cols = vrk::schema::mirrorsColumns();
  sqlite3* db = createTable(dir / "MIRRORS.DB", "MIRRORS", cols);
  sqlite3_stmt* st = prepareInsert(db, "MIRRORS", cols.size());
  for (const Mirror& m : kMirrors) {
    bindText(st, 1, m.continent);
    bindText(st, 2, m.country);
    bindText(st, 3, m.url);
    bindText(st, 4, m.provider);
    stepReset(db, st);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
}

void writeCategories(const fs::path& dir) {
  const auto& cols = vrk::schema::fileCatColumns();
  sqlite3* db = createTable(dir / "FILESCAT.DB", "FILESCAT", cols);
  sqlite3_stmt* st = prepareInsert(db, "FILESCAT", cols.size());
  int id = 1;
  for (const char* name : kCategories) {
    if (id == 13) ++id;
    sqlite3_bind_int(st, 1, id);
    bindText(st, 2, name);
    bindText(st, 3, std::string("Components and tools: ") + name);
    stepReset(db, st);
    ++id;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
}

void zipAdd(zip_t* z, const std::string& name, const std::string& data) {
  void* copy = std::malloc(data.size() ? data.size() : 1);
  if (!copy) die("zip: out of memory for " + name);
  // The member's bytes, not a C string: no terminating zero belongs to them.
  std::memcpy(copy, data.data(), data.size());  // NOLINT(bugprone-not-null-terminated-result)
  zip_source_t* src = zip_source_buffer(z, copy, data.size(), 1);
  if (!src || zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0)
    die("zip: cannot add " + name);
}

void zipFiles(const fs::path& zipFile, const fs::path& dir, const std::vector<std::string>& names) {
  fs::create_directories(zipFile.parent_path());
  int err = 0;
  zip_t* z = zip_open(zipFile.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!z) die("zip: cannot create " + zipFile.string());
  for (const std::string& n : names) {
    zip_source_t* src = zip_source_file(z, (dir / n).c_str(), 0, -1);
    if (!src || zip_file_add(z, n.c_str(), src, ZIP_FL_OVERWRITE) < 0) die("zip: cannot add " + n);
  }
  if (zip_close(z) != 0) die("zip: cannot write " + zipFile.string());
}

void writeEntryZip(const fs::path& file, const std::string& name) {
  fs::create_directories(file.parent_path());
  int err = 0;
  zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!z) die("zip: cannot create " + file.string());
  const std::string unit = name.substr(0, name.find('.'));
  zipAdd(z, "readme.txt", "Demo entry " + name + " of the Quorvane archive.\r\n");
  zipAdd(z, unit + ".pas", "unit " + unit + ";\r\n\r\ninterface\r\n\r\nimplementation\r\n\r\nend.\r\n");
  if (zip_close(z) != 0) die("zip: cannot write " + file.string());
}

}  // namespace

int main(int argc, char** argv) {
  fs::path out, aliases, zipFile, mirror;
  long rows = 5000;
  std::uint64_t seed = 20261208;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) die("missing value for " + a);
      return argv[++i];
    };
    if (a == "--out")
      out = value();
    else if (a == "--rows")
      rows = std::stol(value());
    else if (a == "--seed")
      seed = std::stoull(value());
    else if (a == "--aliases")
      aliases = value();
    else if (a == "--zip")
      zipFile = value();
    else if (a == "--mirror")
      mirror = value();
    else
      die("usage: demogen --out DIR [--rows N] [--seed S] [--aliases FILE] [--zip FILE] [--mirror DIR]");
  }
  if (out.empty()) die("--out DIR is required");
  fs::create_directories(out);
  Rng rng(seed);
  writeFiles(out, rows, rng, mirror);
  writeMirrors(out);
  writeCategories(out);
  if (!zipFile.empty()) zipFiles(zipFile, out, {"FILES.DB", "MIRRORS.DB", "FILESCAT.DB"});
  if (!mirror.empty()) {
    zipFiles(mirror / "ftp" / "resource" / "vrk_db.zip", out, {"FILES.DB", "MIRRORS.DB", "FILESCAT.DB"});
    // The mirror's base URL answers with a page, as a real mirror's does
    // (trying a mirror fetches it).
    std::FILE* index = std::fopen((mirror / "index.html").c_str(), "wb");
    if (!index) die("cannot write " + (mirror / "index.html").string());
    std::fprintf(
        index,
        "<html><head><title>Quorvane demo mirror</title></head>\n"
        "<body><h1>Quorvane demo mirror</h1><p>Files under <a href=\"ftp/\">ftp/</a>.</p></body></html>\n");
    std::fclose(index);
  }
  if (!aliases.empty()) {
    std::FILE* f = std::fopen(aliases.c_str(), "wb");
    if (!f) die("cannot write " + aliases.string());
    std::fprintf(f, "[Quorvane]\r\nPATH=%s\r\n", fs::absolute(out).c_str());
    std::fclose(f);
  }
  std::printf("demogen: %ld rows in %s\n", rows, out.c_str());
  return 0;
}

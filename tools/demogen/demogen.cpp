// demogen: writes a realistic, deterministic demo catalogue of the Quorvane
// archive (FILES.DB, MIRRORS.DB, FILESCAT.DB), optionally the catalogue Zip
// and a mirror tree with one small real Zip per entry (its true length the
// entry's FileSize) and an index page at its root, and an alias file.
//
//   demogen --out DIR [--rows N] [--seed S] [--aliases FILE]
//           [--zip FILE] [--mirror DIR]
#include "Schema.h"
#include "Sqlite.h"

#include <QFile>

#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using vrk::TFieldType;

namespace {

// Ends the run: main reports the failure and exits non-zero, after the
// files being written are removed.
[[noreturn]] void die(const std::string& what) { throw std::runtime_error(what); }

// A table file written under a temporary name and given its own name only
// once every row is in: a failure leaves no half-written table behind under
// the table's name (and a table made before stays as it was).
class TableFile final {
 public:
  TableFile(const fs::path& file, const char* table, const std::vector<vrk::schema::Column>& cols)
      : m_file(file), m_partial(fs::absolute(file).concat(".partial")) {
    fs::remove(m_partial);
    QFile empty(QString::fromStdString(m_partial.string()));  // an empty file is an empty database
    if (!empty.open(QIODevice::WriteOnly)) die("cannot create " + m_partial.string());
    empty.close();
    m_conn = vrk::sql::Connection(empty.fileName(), vrk::sql::Access::Build);
    m_conn.exec(vrk::schema::createTableSql(table, cols).constData());
    std::string sql = std::string("INSERT INTO ") + table + " VALUES (";
    for (std::size_t i = 0; i < cols.size(); ++i) sql += i ? ",?" : "?";
    sql += ")";
    m_insert = vrk::sql::Statement(m_conn, QByteArray::fromStdString(sql));
  }
  ~TableFile() {
    if (m_conn.isOpen()) {
      m_insert.finalize();
      m_conn.close();
      std::error_code ignored;
      fs::remove(m_partial, ignored);
    }
  }
  TableFile(const TableFile&) = delete;
  TableFile& operator=(const TableFile&) = delete;

  vrk::sql::Connection& connection() { return m_conn; }
  // The row's parameters, numbered from 1.
  vrk::sql::Statement& insert() { return m_insert; }
  void bindText(int i, const std::string& s) { m_insert.bindText(i, QByteArray::fromStdString(s)); }
  // Adds the row bound and clears the parameters for the next.
  void addRow() {
    m_insert.step();
    m_insert.reset();
  }
  // Gives the file its own name.
  void finish() {
    m_insert.finalize();
    m_conn.close();
    fs::rename(m_partial, m_file);
  }

 private:
  fs::path m_file;
  fs::path m_partial;
  vrk::sql::Connection m_conn;
  vrk::sql::Statement m_insert;
};

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
  TableFile out(dir / "FILES.DB", "FILES", cols);
  vrk::sql::Statement& st = out.insert();
  out.connection().exec("BEGIN");
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
          st.bindNull(i);  // empty flags for NormaliseFlags
        else
          st.bindInt(i, r.chance(cname == "Free" || cname == "WithSource" ? 50 : 30) ? 1 : 0);
      } else if (cname == "FileName")
        out.bindText(i, name);
      else if (cname == "VRKDir")
        out.bindText(i, vrkDir);
      else if (cname == "FileCatID")
        st.bindInt(i, cat);
      else if (cname == "FileGrpID" || cname == "PlatformID")
        st.bindInt(i, r.below(20));
      else if (cname == "Description")
        out.bindText(i, desc);
      else if (cname == "FileVersion")
        out.bindText(i, std::to_string(1 + r.below(5)) + "." + std::to_string(r.below(10)) + "." +
                            std::to_string(r.below(100)));
      else if (cname == "Created" || cname == "Changed")
        out.bindText(i, date(r));
      else if (cname == "FileSize") {
        r.below(2000000);  // drawn as before, so that the other columns stay as they were
        // Without a mirror the Zip is made only for its length, so that a
        // catalogue and a mirror made with the same seed agree.
        const fs::path zip = mirror.empty() ? dir / ".entry.zip" : mirror / "ftp" / vrkDir / name;
        writeEntryZip(zip, name);
        st.bindInt64(i, static_cast<qint64>(fs::file_size(zip)));
        if (mirror.empty()) fs::remove(zip);
      } else if (cname == "SourceAvail")
        out.bindText(i, r.chance(50) ? "Yes" : "No");
      else if (cname == "ShareProt")
        out.bindText(i, r.chance(70) ? "Free" : "Share");
      else if (cname == "FileTitle")
        out.bindText(i, (stem + " component").substr(0, 25));
      else if (cname == "Condition")
        out.bindText(i, r.chance(70) ? "Freeware" : "Shareware, registration required");
      else if (cname == "ExtDescFile")
        st.bindNull(i);
      else if (col.type == TFieldType::ftInteger)
        st.bindInt(i, r.below(100000));
      else
        st.bindNull(i);
    }
    out.addRow();
  }
  out.connection().exec("COMMIT");
  out.finish();
}

void writeMirrors(const fs::path& dir) {
  const auto& cols = vrk::schema::mirrorsColumns();
  TableFile out(dir / "MIRRORS.DB", "MIRRORS", cols);
  for (const Mirror& m : kMirrors) {
    out.bindText(1, m.continent);
    out.bindText(2, m.country);
    out.bindText(3, m.url);
    out.bindText(4, m.provider);
    out.addRow();
  }
  out.finish();
}

void writeCategories(const fs::path& dir) {
  const auto& cols = vrk::schema::fileCatColumns();
  TableFile out(dir / "FILESCAT.DB", "FILESCAT", cols);
  int id = 1;
  for (const char* name : kCategories) {
    if (id == 13) ++id;
    out.insert().bindInt(1, id);
    out.bindText(2, name);
    out.bindText(3, std::string("Components and tools: ") + name);
    out.addRow();
    ++id;
  }
  out.finish();
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

int run(int argc, char** argv) {
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
  // A failure names the table it was writing.
  const auto writing = [](const char* file, const auto& write) {
    try {
      write();
    } catch (const std::exception& e) {
      die(std::string(file) + ": " + e.what());
    }
  };
  writing("FILES.DB", [&] { writeFiles(out, rows, rng, mirror); });
  writing("MIRRORS.DB", [&] { writeMirrors(out); });
  writing("FILESCAT.DB", [&] { writeCategories(out); });
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

}  // namespace

int main(int argc, char** argv) {
  // Every failure ends here, after the files being written are removed: a
  // refused bind or statement of SQLite, a Zip or file that cannot be
  // written, a bad argument.
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "demogen: %s\n", e.what());
    return 1;
  }
}

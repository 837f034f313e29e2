#include "Unzip.h"

#include "TransferRelay.h"
#include "UnzipLibrary.h"
#include "UnzipStatus.h"

#include <QFile>

namespace vrk {
namespace {

using unzip::TUnzipCallbacks;
using unzip::TUnzipOptions;

// The relay of the UnzipArchive call running now (the innermost one, when a
// status handler starts another extraction). UI thread only.
TTransferRelay* s_relay = nullptr;

unsigned long textOutput(const char*, unsigned long length) { return length; }  // discarded, all consumed

int replaceQuestion(const char*) { return 1; }  // replace

int passwordRequest(char*, int, const char*, const char*) { return 1; }  // no password: the member is skipped

void memberListing(uint32_t size, uint32_t compressedSize, uint32_t factor, uint32_t month, uint32_t day,
                   uint32_t year, uint32_t hour, uint32_t minute, char flag, const char* name, const char*,
                   uint32_t, char) {
  if (!s_relay) return;
  s_relay->SetStatusText(UnzipStatusLine(size, compressedSize, factor, month, day, year, hour, minute, flag,
                                         MemberNameText(QByteArray(name))));
}

int service(const char*, unsigned long) { return 0; }  // continue

// The options record: one for the whole run, all zero at start.
TUnzipOptions s_options{};

// The callback record, filled once; the sound entry stays empty.
TUnzipCallbacks s_callbacks{
    textOutput, nullptr, replaceQuestion, passwordRequest, memberListing, service, 0, 0, 0, 0, 0};

// Holds the relay and the two texts for the duration of one call.
class TCallScope final {
 public:
  explicit TCallScope(TTransferRelay& relay) : m_outerRelay(s_relay) { s_relay = &relay; }
  ~TCallScope() {
    s_relay = m_outerRelay;
    s_options.zipFile = nullptr;
    s_options.targetDir = nullptr;
  }
  TCallScope(const TCallScope&) = delete;
  TCallScope& operator=(const TCallScope&) = delete;

 private:
  TTransferRelay* m_outerRelay;
};

TUnzipResult resultOf(const unzip::TUnzipReport& report) {
  TUnzipResult result;
  result.opened = report.opened;
  result.complete = report.complete;
  result.error = QString::fromUtf8(report.error);
  result.extracted = report.extracted;
  for (const unzip::TUnzipSkip& s : report.skipped)
    result.skipped.append(
        {MemberNameText(QByteArray::fromStdString(s.name)), QString::fromUtf8(s.reason), s.failed});
  return result;
}

}  // namespace

TUnzipResult UnzipArchive(const QString& zipFile, const QString& dir, TTransferRelay& relay) {
  // The program's own copies of the two texts.
  const QByteArray file = QFile::encodeName(zipFile);
  const QByteArray target = QFile::encodeName(dir);
  const TCallScope call(relay);
  const unzip::TUnzipReportScope report;

  s_options.zipFile = file.constData();
  s_options.targetDir = target.constData();
  s_options.overwriteExisting = 1;
  s_options.quietLevel = 2;
  // The library's answer is not examined; the report says what happened.
  unzip::UnzipSingleEntry(0, nullptr, 0, nullptr, &s_options, &s_callbacks);
  return resultOf(report.report());
}

}  // namespace vrk

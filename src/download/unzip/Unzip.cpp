#include "Unzip.h"

#include "Messages.h"
#include "ScopeExit.h"
#include "TransferRelay.h"
#include "UnzipLibrary.h"
#include "UnzipStatus.h"

#include <QFile>

#include <algorithm>
#include <initializer_list>
#include <utility>

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

bool isOneOf(const QString& reason, std::initializer_list<const char*> texts) {
  return std::any_of(texts.begin(), texts.end(), [&](const char* t) { return reason == QLatin1String(t); });
}

// Members the naming and safety rules leave out: they are meant to stay
// unwritten, and the archive still counts as unpacked whole.
bool leftOutByRule(const QString& reason) {
  return isOneOf(reason, {msg::ZipSymbolicLink, msg::ZipNotRegularFile, msg::ZipUnsafeName});
}

bool encryptionReason(const QString& reason) {
  return isOneOf(reason, {msg::ZipEncrypted, msg::ZipEncryptionNotSupported, msg::ZipWrongPassword});
}

// The reasons of a member file that could not be written (or of a directory
// that takes none), as opposed to member data that failed a check.
bool writeReason(const QString& reason) {
  return isOneOf(reason, {msg::ZipCannotReplace, msg::ZipDiskFull, msg::ZipDirectoryNotWritable,
                          msg::ZipFileTooLarge, msg::ZipNameTooLong, msg::ZipDirectoryInTheWay}) ||
         reason.startsWith(QLatin1String(msg::ZipCannotWrite)) ||
         reason.startsWith(QLatin1String(msg::ZipCannotOpenDirectory));
}

// The bounds of the whole archive, which end an extraction that leaves
// nothing.
bool limitReason(const QString& reason) {
  return reason == QLatin1String(msg::ZipTotalRatioTooHigh) ||
         reason.startsWith(QLatin1String(msg::ZipTooManyMembers)) ||
         reason.startsWith(QLatin1String(msg::ZipTotalTooLarge)) ||
         reason.startsWith(QLatin1String(msg::ZipNoRoom));
}

void setOutcome(TUnzipResult& r, TUnzipOutcome outcome, const char* reason, const QString& detail) {
  r.outcome = outcome;
  r.outcomeText = msg::text(reason);
  if (!detail.isEmpty()) r.outcomeText += QStringLiteral(" (") + detail + QLatin1Char(')');
}

// The first thing that kept the archive from being unpacked whole.
void judge(TUnzipResult& r) {
  if (!r.opened) {
    if (r.error == QLatin1String(msg::ZipNotAZipFile))
      return setOutcome(r, TUnzipOutcome::NotZip, msg::UnzipNotZip, {});
    QString detail = r.error;
    if (detail.startsWith(QLatin1String(msg::ZipDamaged))) detail.remove(0, qstrlen(msg::ZipDamaged));
    return setOutcome(r, TUnzipOutcome::Damaged, msg::UnzipDamaged, detail);
  }
  if (!r.complete && limitReason(r.error))
    return setOutcome(r, TUnzipOutcome::OverLimit, msg::UnzipOverLimit, r.error);
  for (const TUnzipSkipped& s : r.skipped) {
    if (leftOutByRule(s.reason)) continue;
    const QString detail = s.name + QStringLiteral(": ") + s.reason;
    if (encryptionReason(s.reason))
      return setOutcome(r, TUnzipOutcome::Encrypted, msg::UnzipEncrypted, detail);
    if (writeReason(s.reason)) return setOutcome(r, TUnzipOutcome::NotWritten, msg::UnzipNotWritten, detail);
    return setOutcome(r, TUnzipOutcome::MemberFailed, msg::UnzipMemberFailed, detail);
  }
  if (!r.complete) {
    if (writeReason(r.error)) return setOutcome(r, TUnzipOutcome::NotWritten, msg::UnzipNotWritten, r.error);
    return setOutcome(r, TUnzipOutcome::Damaged, msg::UnzipDamaged, r.error);
  }
  r.outcome = TUnzipOutcome::Whole;
  r.outcomeText.clear();
}

TUnzipResult resultOf(const unzip::TUnzipReport& report) {
  TUnzipResult result;
  result.opened = report.opened;
  result.complete = report.complete;
  result.error = QString::fromUtf8(report.error);
  result.extracted = report.extracted;
  for (const unzip::TUnzipSkip& s : report.skipped)
    result.skipped.append(
        {MemberNameText(QByteArray::fromStdString(s.name)), QString::fromUtf8(s.reason), s.failed});
  judge(result);
  return result;
}

}  // namespace

TUnzipResult UnzipArchive(const QString& zipFile, const QString& dir, TTransferRelay& relay) {
  // The program's own copies of the two texts.
  const QByteArray file = QFile::encodeName(zipFile);
  const QByteArray target = QFile::encodeName(dir);
  // The relay and the two texts hold for the duration of this call.
  TTransferRelay* const outerRelay = std::exchange(s_relay, &relay);
  const auto endCall = onScopeExit([outerRelay] {
    s_relay = outerRelay;
    s_options.zipFile = nullptr;
    s_options.targetDir = nullptr;
  });
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

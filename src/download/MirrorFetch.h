// The texts of a fetch from a mirror: the local name of a to-file path, the
// question asked before connecting, the URL, and the rule and error of a
// reply that is no download.
// TVRKData::FetchFromMirror (the data module) puts them to work; they are
// pure so that every rule can be checked without a transfer.
#pragma once

#include <QString>

namespace vrk {

// The characters of a to-file path after its last "/". A path with no "/"
// before its last character (no current row, an empty file name) names no
// file and raises; so do "." and "..", which name directories.
QString mirrorLocalName(const QString& path);

// msg::ConnectTo + mirror + "ftp/" + local name + msg::QuestionEnd (to-file)
// or msg::ConnectTo + mirror + msg::QuestionEnd (in memory).
QString mirrorQuestion(const QString& mirror, bool toFile, const QString& localName);

// mirror + "/ftp/" + path, joined exactly so: a mirror ending in "/" gives
// two slashes.
QString mirrorUrl(const QString& mirror, const QString& path);

// The proxy port of the settings as a number: decimal, 1 to 65535; anything
// else raises EConvertError msg::InvalidInteger of the text.
int proxyPortNumber(const QString& text);

// The first line of a reply header without its line end.
QString replyStatusLine(const QString& header);

// Why a reply is no download, for msg::DownloadFailed: empty when its first
// line is an HTTP status line ("HTTP/" …) and status is from 200 to 299;
// otherwise that status line, or msg::NoHttpStatusLine when the first line is
// none (a bare body, junk).
QString replyFailure(const QString& header, int status);

// msg::SizeMismatch of the local name and the two lengths, grouped by
// thousands ("1,577,000").
QString sizeMismatchText(const QString& localName, qint64 received, qint64 catalogueSize);

// msg::DownloadFailed + status line + " (" + url + ")".
QString downloadFailedText(const QString& statusLine, const QString& url);

}  // namespace vrk

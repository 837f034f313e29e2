// The system's message texts, all in one place: the class library's German
// error messages, the program's own error messages, the status texts of the
// status bars, the socket session and the Zip extraction, the questions and
// the titles and buttons of the message boxes. Each group says who raises or
// shows its texts. "%1", "%2", … are filled by QString::arg; a text ending
// or starting in a blank is a piece that the caller joins to another.
//
// The texts are shown exactly as written here, byte for byte: German
// umlauts and "ß", double blanks and leading blanks included. They are
// UTF-8; msg::text() makes the QString of one.
//
// Captions and component names of the forms, file names and SQL text are
// no messages and stay with their forms and tables; so does the socket
// error table (SockError.cpp).
#pragma once

#include <QString>

namespace vrk::msg {

// The QString of a message text.
inline QString text(const char* message) { return QString::fromUtf8(message); }

// --- Run-time library: input/output errors and file streams --------------
// EInOutError (the collector's directory change, deleting a file),
// EFOpenError, EReadError and EWriteError of a copy between files,
// EFCreateError of a file a transfer or the catalogue install creates, and
// the socket session's failed write to the file it captures into.
inline const char* const InOutError = "E/A-Fehler %1";
inline const char* const FileNotFound = "Datei nicht gefunden";
inline const char* const FileOpenError = "Datei %1 kann nicht geöffnet werden";
inline const char* const FileCreateError = "Datei %1 kann nicht erstellt werden";
inline const char* const FileWriteError = "Datei %1 kann nicht geschrieben werden";
inline const char* const StreamReadError = "Stream-Lesefehler";
inline const char* const StreamWriteError = "Stream-Write-Fehler";

// --- Application error display: an exception that is none of ours ----------
inline const char* const UnknownError = "Unbekannter Fehler";

// --- Message boxes: the title of each question kind and the two buttons ----
// (MessageDlg::title, the program's message box).
inline const char* const TitleWarning = "Warnung";
inline const char* const TitleConfirmation = "Bestätigung";
inline const char* const ButtonYes = "&Ja";
inline const char* const ButtonNo = "&Nein";

// --- Data-set layer: EDatabaseError of data sets and fields ------------------
// (TDataSet, TField, the catalogue tables, the result table). FieldNotFound
// follows the data set's name and ": ".
inline const char* const NotEditing = "Datenmenge weder im Editier- noch im Einfügemodus";
inline const char* const FieldNotFound = "Feld '%1' nicht gefunden";
inline const char* const FieldRequired = "Feld '%1' muß einen Wert haben";
inline const char* const FieldReadOnly = "Feld '%1' kann nicht verändert werden";
inline const char* const DataSetOpen = "Operation bei geöffneter Datenmenge nicht ausführbar";
inline const char* const DataSetClosed = "Operation bei geschlossener Datenmenge nicht ausführbar";
inline const char* const NoDataFound = "No data found";
inline const char* const InvalidBooleanForField = "'%1' ist kein gültiger boolescher Wert für Feld '%2'";

// --- Conversions: EConvertError of a text or value of the wrong form --------
// Fields set from text, the result table's slots, the filter's constants,
// the port of a URL and the proxy port. The result table and the filter
// each have their own boolean and date-and-time texts.
inline const char* const InvalidInteger = "'%1' ist kein gültiger Integerwert";
inline const char* const InvalidFloat = "'%1' ist kein gültiger Gleitkommawert";
inline const char* const InvalidDate = "'%1' ist kein gültiges Datum";
inline const char* const InvalidTime = "'%1' ist keine gültige Zeit";
// Filter constants.
inline const char* const InvalidBoolean = "'%1' ist kein gültiger Boolescher Wert";
inline const char* const InvalidDateTime = "'%1' ist kein gültiges Datum und Zeit";
// The result table's values.
inline const char* const InvalidBooleanValue = "'%1' ist kein gültiger boolescher Wert";
inline const char* const InvalidDateTimeValue = "'%1' ist kein gültiger Wert für Datum und Zeit";

// --- Result table: EDatabaseError of TMemoryTable and its memo streams -------
inline const char* const FieldTypeUnknown = "Typ für Feld '%1' ist unbekannt";
inline const char* const DataSetEmpty = "Operation bei leerer Datenmenge nicht ausführbar";
inline const char* const RecordTooLarge = "Datensatz zu groß: %1 Byte (höchstens 65535)";
inline const char* const TooManyRecords = "Zu viele Datensätze";
inline const char* const FieldNotBlob = "Feld '%1' ist kein Blob-Feld";
inline const char* const ValueOutOfRange =
    "%1 ist kein gültiger Wert für Feld '%2'. Der erlaubte Bereich ist %3 bis %4";

// --- Filter expressions: EDatabaseError of the tokenizer, the parser and ---
// the filter block writer (TExprParser, TFilterExpr), and of the store's
// reading of a filter block. ExprFieldNotFound follows the table's name and
// ": "; ExprNothing names the missing token in ExprExpected and its kin.
inline const char* const ExprInvalidChar = "Ungültiges Zeichen in Filterausdruck: '%1'";
inline const char* const ExprStringTerm = "Nicht begrenzte String-Konstante";
inline const char* const ExprNameTerm = "Nicht begrenzter Feldname";
inline const char* const ExprBadKeyword = "Ungültige Verwendung eines Schlüsselworts";
inline const char* const ExprExpected = "Ausdruck erwartet, jedoch %1 vorgefunden";
inline const char* const ExprNoRParen = "')' erwartet, jedoch %1 vorgefunden";
inline const char* const ExprNoLParen = "'(' erwartet, aber %1 vorgefunden";
inline const char* const ExprNoRParenOrComma = "')' oder ',' erwartet, jedoch %1 vorgefunden";
inline const char* const ExprEmptyInList = "Die IN-Liste darf nicht leer bleiben";
inline const char* const ExprNoArith = "Arithmetische Filterausdrücke werden nicht unterstützt";
inline const char* const ExprTypeMismatch = "Fehlende Typübereinstimmung  im Ausdruck";
inline const char* const ExprTermination = "Filterausdruck fehlerhaft abgeschlossen";
inline const char* const ExprIncorrect = "Ungültiger Filterausdruck";
inline const char* const ExprFieldNotFound = "Das Feld '%1' wurde nicht gefunden";
inline const char* const ExprBadField = "Feld '%1' kann nicht in einem Filterausdruck verwendet werden";
inline const char* const ExprBadNullTest = "NULL ist nur mit '=' und '<>' erlaubt";
inline const char* const ExprRangeError = "Konstante außerhalb des zulässigen Wertebereichs";
inline const char* const ExprBadConst = "Die Konstante ist nicht vom richtigen Typ %1";
inline const char* const ExprNothing = "leer";
inline const char* const ExprTooDeep = "Filterausdruck zu tief verschachtelt";
inline const char* const ExprTooLarge = "Filterausdruck zu umfangreich";
inline const char* const FilterBlockInvalid = "Ungültiger Filterblock";

// --- Catalogue store: EDatabaseError of the alias, the tables and queries ---
// (TDatabase, TTable, TQuery, the SQLite wrapper). SqliteFailed joins what
// failed (a call or a file) and SQLite's own text.
inline const char* const AliasMissing = "the alias does not exist";
inline const char* const AliasNoPath = "Alias '%1' nennt kein Verzeichnis (PATH)";
inline const char* const TableNotFound = "Tabelle existiert nicht: %1";
inline const char* const SqliteFailed = "%1: %2";
inline const char* const QueryReadOnly = "Kann eine schreibgeschützte Datenmenge nicht ändern";
inline const char* const QueryNoTable = "Die Abfrage nennt keine Tabelle";
// A connection setting that SQLite did not take (after SqliteFailed's "%1: ").
inline const char* const SettingNotTaken = "the setting did not take";

// --- Catalogue file swap: EDatabaseError of the all-or-nothing install ------
// and of the recovery of one that ended half-way (TCatalogueSwap,
// RecoverPendingInstall). "%2" is the system's error text.
inline const char* const InstallLocked = "The catalogue at %1 is being installed by another program";
inline const char* const InstallMoveFailed =
    "The new catalogue file %1 could not be moved into place (%2); the install is finished at the next start";
inline const char* const InstallNotFlushed = "The catalogue install at %1 could not be flushed to disk";
inline const char* const PendingRecordNotRemoved =
    "The record of a pending install at %1 cannot be removed (%2)";
inline const char* const PendingRecordNotRead = "The record of a pending install at %1 cannot be read (%2)";
inline const char* const InstallRecordNotRemoved = "The record of the install at %1 cannot be removed (%2)";
inline const char* const DatabaseDirNotOpened = "The database directory %1 cannot be opened (%2)";

// --- Catalogue table check: why a file is no valid catalogue table ----------
// (catalogueTableProblem, rebuildCatalogueTable); the catalogue install
// shows it inside InstallTableRefused.
inline const char* const NoCatalogueTable = "%1 is no catalogue table";
inline const char* const NotAFile = "not a file";
inline const char* const NotAnSqliteDatabase = "not an SQLite database: %1";
inline const char* const QuickCheckFails = "SQLite's quick check fails: %1";
inline const char* const QuickCheckNoAnswer = "no answer";
inline const char* const TableUnreadable = "its table cannot be read: %1";
inline const char* const NoSuchTable = "no table %1";
inline const char* const ColumnMissing = "the column %1 is missing from table %2";
inline const char* const ColumnNamedOtherwise = "column %1 of table %2 is %3, not %4";
inline const char* const ColumnOfOtherType = "column %1 of table %2 has the type %3, not %4";
inline const char* const ColumnAfterLast = "table %1 has a column %2 after %3";
inline const char* const TableIsView = "%1 is a view, not a table";
inline const char* const TableIsVirtual = "%1 is a virtual table";
inline const char* const TableWithoutRowid = "%1 is a WITHOUT ROWID table";
inline const char* const ColumnGenerated = "column %1 of table %2 is generated";
// The rebuild's refusal of a row: its rowid, the table, the column and
// (RowValueInvalid) the column's declared type.
inline const char* const RowValueMissing = "row %1 of table %2: %3 is empty, but required";
inline const char* const RowValueInvalid = "row %1 of table %2: %3 holds a value that is no %4";
inline const char* const ValueTooLong = "a value or row is longer than %1 bytes";

// --- Catalogue install: the refusals and the question of "Get Database" -----
// (InstallCatalogue, GetDatabase). The question is OverwriteDatabaseAt + the database
// directory + QuestionEnd.
inline const char* const InstallJournalRefused =
    "%1 is a rollback journal of a catalogue table; the catalogue is not installed";
inline const char* const InstallTableRefused =
    "%1 is no valid catalogue table (%2); the catalogue is not installed";
inline const char* const InstallNoPath =
    "The alias Quorvane names no database directory (PATH); the catalogue is not installed";
inline const char* const InstallPathIsProgramDir =
    "The alias Quorvane names the program's folder (PATH=%1) as its database directory; the catalogue is "
    "not installed";
inline const char* const InstallPathIsDownload =
    "The alias Quorvane names the download folder (PATH=%1) as its database directory; the catalogue is not "
    "installed";
inline const char* const InstallTwoFiles =
    "%1 and %2 both stand for table %3; the catalogue is not installed";
// A table file unpacked from the fetched catalogue archive, in the refusals
// above: the file's name and the archive's path.
inline const char* const MemberOfArchive = "%1 of %2";
inline const char* const OverwriteDatabaseAt = "Overwrite Database at ";

// --- Mirror fetch: the question before connecting and the fetch's errors ----
// (TVRKData::FetchFromMirror). The question is ConnectTo + the mirror (and
// "ftp/" + the local name for a file) + QuestionEnd; the main window's
// connect menu item shows ConnectTo + the mirror. A failed reply is
// DownloadFailed + the status line + " (" + the URL + ")".
inline const char* const ConnectTo = "Connect to ";
inline const char* const QuestionEnd = " ?";
inline const char* const PathNamesNoFile = "Cannot download '%1': the path names no file";
inline const char* const DownloadFailed = "Download failed: ";
inline const char* const TransferRunning = "A transfer is already running.";
// A fetched file that was not unpacked whole stays in Download: ZipKept of
// the file and the outcome's text (UnzipNotZip, …). The catalogue refresh
// refuses it with CatalogueNotUnpacked of that line.
inline const char* const ZipKept = "Kept %1: %2";
inline const char* const CatalogueNotUnpacked = "%1; the catalogue is not installed";

// --- Mirror test: every mirror tried at once (TMirrorProbe, the mirror -----
// dialog's "Test all" and "Select fastest", vrk mirrors). A cell of the
// dialog's test column is ProbeAnswer of the status line and the time to the
// whole answer, or the client's error text; its tool tip adds ProbeTimes.
inline const char* const ProbeRunning = "A test of the mirrors is already running.";
inline const char* const ProbeUrlLineBreak = "the URL holds a line break";
inline const char* const ProbeNoThread = "no thread could be started for the test";
inline const char* const ProbeNoneWorks = "No tested mirror has answered with success (2xx).";
inline const char* const ProbeTesting = "Testing %1 mirrors";
inline const char* const ProbeTested = "%1 of %2 mirrors work";
inline const char* const ProbeDone = "Tested %1 mirrors";
inline const char* const ProbePending = "testing …";
inline const char* const ProbeAnswer = "%1, %2 ms";
inline const char* const ProbeTimes = "first byte after %1 ms, whole answer after %2 ms";

// --- Settings file: EIniFileException of TIniFile --------------------------
// and the refusal of a value with a line break (TIniFile, the options and
// the mirror dialog); ValueLineBreak names the setting.
inline const char* const IniNotWritable = "nach %1 kann nicht geschrieben werden";
inline const char* const ValueLineBreak = "%1 cannot be stored: its value holds a line break";

// --- The user's places: Exception of the first start of an installed -------
// program (prepareUserPlaces), shown by the error display; start-up goes on.
inline const char* const PlaceNotMade = "Cannot make the folder %1";
inline const char* const InstalledCatalogueMissing = "There is no catalogue at %1 to start from";
inline const char* const CatalogueNotCopied = "Cannot copy %1 into %2";

// --- Socket session: ESockError and EAbortError of TSocketSession, -----------
// Exception of its timer (TThreadTimer).
inline const char* const SocketsInitFailed = "Die Initialisierung der Windows-Sockets ist fehlgeschlagen";
inline const char* const AlreadyConnected = "Bereits verbunden";
inline const char* const LookupTimedOut = "Zeitüberschreitung bei Host-Lookup";
inline const char* const LookupCancelled = "Host-Lookup wurde abgebrochen";
inline const char* const NullRemoteAddress = "Null Externe Adresse";
inline const char* const ConnectTimedOut = "Zeitüberschreitung bei Verbindung";
inline const char* const ConnectCancelled = "Verbindung abgebrochen";
inline const char* const ConnectFailed = "Verbindung fehlgeschlagen";
// A cancel during SendBuffer, SendFile or CaptureFile.
inline const char* const SendCancelled = "Socket-send abgebrochen";
inline const char* const SendInterrupted = "Verbindung beim Senden unterbrochen";
inline const char* const ReadLnCancelled = "Socket-readln abgebrochen";
inline const char* const LineTooLong = "Zeile länger als %1 Bytes";
inline const char* const ClosedBeforeLineEnd = "Verbindung vor dem Zeilenende geschlossen";
inline const char* const ReceiveTimedOut = "Zeitüberschreitung beim Empfang";
inline const char* const CaptureCancelled = "Socket-Capture abgebrochen";
inline const char* const ReceiveInterrupted = "Verbindung beim Empfang unterbrochen";
// The bounds of a capture: the low-speed rule (bytes, seconds), a text past
// its ceiling (bytes), a file whose file system would keep less than the
// margin free (the file, the margin in bytes).
inline const char* const ReceiveTooSlow = "Empfang zu langsam: weniger als %1 Bytes in %2 Sekunden";
inline const char* const TextCaptureTooLong = "Daten der Antwort länger als %1 Bytes";
inline const char* const DiskSpaceLow = "Zu wenig Speicherplatz für %1: es blieben weniger als %2 Bytes frei";
inline const char* const NoTimer = "Kein Zeitgeber";

// --- Secure connections: ESockError of the session's TLS layer and of its --
// tunnel through a proxy (TTlsChannel, TSocketSession). "%1" is the host
// the session was asked for; "%2" the reason OpenSSL or the socket gives.
// ProxyTunnelRefused names the proxy, the host and port, and the proxy's
// status line.
inline const char* const TlsNotTrusted = "Das Zertifikat von %1 ist nicht vertrauenswürdig (%2)";
inline const char* const TlsNameMismatch = "Das Zertifikat von %1 ist nicht für diesen Namen ausgestellt";
inline const char* const TlsExpired = "Das Zertifikat von %1 ist abgelaufen";
inline const char* const TlsNotYetValid = "Das Zertifikat von %1 ist noch nicht gültig";
inline const char* const TlsHandshakeFailed = "TLS-Handshake mit %1 fehlgeschlagen (%2)";
inline const char* const TlsHandshakeTimedOut = "Zeitüberschreitung beim TLS-Handshake mit %1";
inline const char* const TlsBroken = "TLS-Fehler in der Verbindung mit %1 (%2)";
inline const char* const ProxyTunnelRefused = "Der Proxy %1 verweigert den Tunnel zu %2: %3";

// --- Socket session status texts: StatusMessage to OnStatus ------------------
// (TSocketSession, THttpClient), each reported only up to the session's
// ReportLevel; the program's HTTP component keeps ReportLevel 0.
inline const char* const StatusCreate = "Erzeugen";
inline const char* const StatusDestroy = "Löschen";
inline const char* const StatusInitSockets = "Winsock wird initialisiert";
inline const char* const StatusConnect = "Verbindung wird hergestellt";
inline const char* const StatusDisconnect = "Verbindung wird unterbrochen";
inline const char* const StatusCancel = "Beim Abbrechen";
inline const char* const StatusSendBuffer = "Puffer senden";
inline const char* const StatusWrite = "Write";
inline const char* const StatusWriteln = "Writeln";
inline const char* const StatusReadLn = "ReadLn";
inline const char* const StatusSendFile = "SendFile";
inline const char* const StatusCaptureFile = "CaptureFile";
inline const char* const StatusCaptureString = "String erfassen";
inline const char* const StatusTransaction = "Transaktion";
inline const char* const StatusErrorText = "Fehlermeldung wird gelesen";
inline const char* const StatusTimerOn = "Zeitgeber An";
inline const char* const StatusTimerOff = "Zeitgeber Aus";
inline const char* const StatusTimerFired = "Zeitgeber ausgelöst";
inline const char* const StatusReadToStream = "ReadToStream";
inline const char* const StatusWriteFromStream = "WriteFromStream";
inline const char* const StatusCloseSocket = "Schließen des Socket anfordern";
inline const char* const StatusCheckError = "Überprüfung eines Fehlers im Fehler-Manager";
inline const char* const StatusResolveHost = "Auf Host zurückschreiben";
inline const char* const StatusTransactionDone = "Transaktion erfolgreich";

// --- HTTP client: ESockError and EConvertError of THttpClient and its -------
// URL and reply header reading.
inline const char* const EmptyUrl = "Leere URL";
inline const char* const TooManyRedirects = "Zu viele Umleitungen (%1)";
// A redirection from an https URL to a plain http one (%1: where it led).
inline const char* const HttpsDowngrade = "Umleitung von HTTPS auf unverschlüsseltes HTTP abgelehnt: %1";
// A redirection to a URL of another scheme than http or https (%1: where
// it led).
inline const char* const RedirectNotHttp =
    "Umleitung auf %1 abgelehnt: nur http- und https-Adressen werden verfolgt";
inline const char* const TooManyHeaderLines = "Mehr als %1 Kopfzeilen in der Antwort";
inline const char* const HeaderTooLong = "Kopf der Antwort länger als %1 Bytes";
inline const char* const ClosedBeforeDataEnd =
    "Verbindung vor dem Ende der Daten geschlossen (%1 von %2 Bytes)";
// What a reply or a URL may not be: the first line of a reply that is no
// status line at all, a status line or a framing field that is not valid
// (the offending text follows), a chunked body that breaks off or does not
// parse, a URL or a Location that does not parse or names a scheme the
// client does not speak, and a request that does not fit the send area.
inline const char* const NoHttpStatusLine = "no HTTP status line";
inline const char* const InvalidStatusLine = "invalid HTTP status line: %1";
inline const char* const InvalidContentLength = "invalid Content-Length in the reply: %1";
inline const char* const UnsupportedTransferCoding = "unsupported Transfer-Encoding in the reply: %1";
inline const char* const InvalidChunk = "invalid chunked body (at byte %1)";
inline const char* const ChunkedBodyCut = "connection closed before the end of the chunked body";
inline const char* const InvalidUrl = "invalid URL: %1";
inline const char* const InvalidLocation = "invalid Location in the reply: %1";
inline const char* const UnsupportedScheme = "unsupported URL scheme: %1";
inline const char* const RequestTooLong = "request longer than %1 bytes";

// --- Status bars: the transfer indicators and the results -----------------
// The main window's and the mirror dialog's panels and vrk's console
// display. The progress text is the received bytes + BytesReceived + the
// rate + BytesPerSecond; the search's total is TotalFiles + the count.
inline const char* const Connecting = "Connecting";
inline const char* const Connected = "Connected";
inline const char* const Disconnected = "Disconnected";
inline const char* const Ready = "Ready";
// A transfer the user ended (Esc, File → CancelTransfer, a signal to vrk).
inline const char* const Cancelled = "Cancelled";
inline const char* const CancelTransfer = "Cancel Transfer";
// The progress bar: the percentage, and the time left from the recent rate
// (ProgressLeft + the time, "0:13"; nothing while there is no rate yet).
inline const char* const ProgressPercent = "%1 %";
inline const char* const ProgressLeft = " – %1 left";
// A download whose length is not the catalogue's FileSize: the local name,
// the bytes received, the catalogue's size (both grouped by thousands).
inline const char* const SizeMismatch = "%1: %2 bytes received, the catalogue says %3";
inline const char* const UnzipingFile = " Unziping File";
inline const char* const TotalFiles = " Total Files ";
inline const char* const BytesReceived = " Bytes received ( ";
inline const char* const BytesPerSecond = " Bytes / Sec )";

// --- Animation control: a clip that cannot be loaded or played (TAnimate) --
inline const char* const CannotOpenAvi = "Cannot open AVI";

// --- Zip extraction: our extraction library's texts -------------------------
// (UnzipSingleEntry). Why an archive could not be opened or gone through
// (the report's error), why a member was not extracted (the skip reason),
// the lines of its text output (ZipExtracted + the member name, or the
// member name + ": " + the reason) and its password question. A text ending
// in a blank or "(" is followed by a detail (a system or libzip error
// text, a name, a number).
inline const char* const ZipNoFileOrDirectory = "no Zip file or extraction directory given";
inline const char* const ZipOptionNotSupported = "option not supported: ";
inline const char* const ZipCannotOpenArchive = "cannot open the archive: ";
inline const char* const ZipNotAZipFile = "not a Zip file";
inline const char* const ZipCannotReadArchive = "cannot read the archive";
inline const char* const ZipCannotOpenDirectory = "cannot open the extraction directory: ";
inline const char* const ZipCancelled = "cancelled";
inline const char* const ZipSeveralDisks = "archives on several disks are not supported";
inline const char* const ZipEncryptedDirectory =
    "archives with an encrypted central directory are not supported";
// The archive's layout is not sound; ZipDamaged is followed by libzip's text.
inline const char* const ZipDamaged = "damaged archive: ";
inline const char* const ZipReadsTwoWays = "damaged archive: the central directory reads two ways";
inline const char* const ZipCommentPastEnd =
    "damaged archive: the archive comment runs past the end of the file";
inline const char* const ZipBadEndRecord64 = "damaged archive: bad Zip64 end record";
inline const char* const ZipDirectoryOutside = "damaged archive: the central directory lies outside the file";
inline const char* const ZipBadEntry = "damaged archive: bad central directory entry ";
// ZipEntryPastDirectory + the entry's number + ZipEntryPastDirectoryEnd.
inline const char* const ZipEntryPastDirectory = "damaged archive: central directory entry ";
inline const char* const ZipEntryPastDirectoryEnd = " runs past the directory";
inline const char* const ZipBadZip64Field = "damaged archive: bad Zip64 field in entry ";
// ZipEntryCount + the entries read + ZipEntryCountSays + the end record's count.
inline const char* const ZipEntryCount = "damaged archive: the central directory holds ";
inline const char* const ZipEntryCountSays = " entries, its end record says ";
// ZipNoLocalHeader + the name + "\"".
inline const char* const ZipNoLocalHeader = "damaged archive: no local header for \"";
// ZipDataIntoDirectory + the name + ZipDataIntoDirectoryEnd.
inline const char* const ZipDataIntoDirectory = "damaged archive: the data of \"";
inline const char* const ZipDataIntoDirectoryEnd = "\" runs into the central directory";
// ZipOverlap + the first name + ZipOverlapAnd + the second name + ZipOverlapEnd.
inline const char* const ZipOverlap = "damaged archive: entries \"";
inline const char* const ZipOverlapAnd = "\" and \"";
inline const char* const ZipOverlapEnd = "\" overlap";
inline const char* const ZipTooManyEndRecords = "damaged archive: too many end of central directory records";
inline const char* const ZipSeveralEndRecords =
    "damaged archive: more than one end of central directory record";
// Members left out by rule or refused by a check.
inline const char* const ZipSymbolicLink = "symbolic link";
inline const char* const ZipNotRegularFile = "not a regular file";
inline const char* const ZipUnsafeName = "unsafe name";
inline const char* const ZipEncryptionNotSupported = "encryption method not supported";
inline const char* const ZipEncrypted = "encrypted";
inline const char* const ZipCompressionNotSupported = "compression method not supported";
inline const char* const ZipSizesDisagree = "sizes disagree";
inline const char* const ZipRatioTooHigh = "compression ratio over 1000:1";
// Bounds of the whole archive; ZipTooManyMembers + the most members,
// ZipTotalTooLarge + the most bytes + ZipTotalTooLargeEnd, ZipNoRoom + the
// margin in bytes + ZipNoRoomEnd.
inline const char* const ZipTooManyMembers = "too many members: more than ";
inline const char* const ZipTotalTooLarge = "the members would write more than ";
inline const char* const ZipTotalTooLargeEnd = " bytes";
inline const char* const ZipTotalRatioTooHigh = "total compression ratio over 1000:1";
inline const char* const ZipNoRoom = "not enough free disk space: the extraction would leave less than ";
inline const char* const ZipNoRoomEnd = " bytes free";
inline const char* const ZipExists = "exists";
inline const char* const ZipDataTooLong = "data exceeds its declared size";
inline const char* const ZipDataTooShort = "data ends before its declared size";
// Member data libzip could not read; ZipDamagedData + libzip's text + ")".
inline const char* const ZipCrcError = "CRC error";
inline const char* const ZipWrongPassword = "wrong password";
inline const char* const ZipReadError = "read error";
inline const char* const ZipDamagedData = "damaged data (";
// Members that could not be written; ZipCannotWrite + the system's text.
inline const char* const ZipCannotReplace = "cannot replace the existing file";
inline const char* const ZipDiskFull = "disk full";
inline const char* const ZipDirectoryNotWritable = "the extraction directory is not writable";
inline const char* const ZipFileTooLarge = "file too large for the file system";
inline const char* const ZipNameTooLong = "name too long";
inline const char* const ZipDirectoryInTheWay = "a directory of that name is in the way";
inline const char* const ZipCannotWrite = "cannot write: ";
// Text output and the password question.
inline const char* const ZipExtracted = "extracted ";
inline const char* const ZipPasswordPrompt = "Password: ";
// Why an archive was not unpacked whole (UnzipArchive's outcome).
inline const char* const UnzipNotZip = "not a Zip archive";
inline const char* const UnzipDamaged = "the archive is damaged";
inline const char* const UnzipEncrypted = "a member is encrypted";
inline const char* const UnzipMemberFailed = "a member failed its check";
inline const char* const UnzipNotWritten = "a member could not be written";
inline const char* const UnzipOverLimit = "the archive is over a limit";

}  // namespace vrk::msg

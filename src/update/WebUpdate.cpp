#include "update/WebUpdate.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTextStream>
#include <QThread>
#include <QUrl>

#include "platform/Cabinet.h"
#include "platform/Exception.h"
#include "platform/HtmlDialog.h"
#include "platform/InternetSession.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramFolder.h"
#include "platform/Shell.h"
#include "platform/UpdateSignature.h"
#include "update/UpdateReports.h"
#include "update/UpdateTextWindow.h"

namespace sonarelle {

namespace {

const QString kUpdate = QStringLiteral("update");
const QString kApplication = QStringLiteral("application");
const QString kAction = QStringLiteral("action");
const QString kLogFile = QStringLiteral("WUPDATE.LOG");
const QString kUpdaterName = QStringLiteral("sonarelle-updater");

// A signature file is a line of hex; anything much larger is not one.
constexpr qint64 kMaxSmallFetch = 1 << 20;
constexpr qint64 kCopyBlock = 16384;
constexpr auto kProgressInterval = std::chrono::milliseconds(15);

// `folder` ready to have a file name appended: empty stays empty (the current folder).
QString FolderPath(const QString& folder) {
  if (folder.isEmpty() || folder.endsWith(QLatin1Char('/'))) return folder;
  return folder + QLatin1Char('/');
}

QString UpperExtension(const QString& name) {
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.mid(dot).toUpper();
}

QString FromLines(QString text) {
  return text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
}

bool SameDevice(const QString& a, const QString& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
         ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev;
}

// Ends a run whose temporary file cannot be written: the file goes, the error is raised.
[[noreturn]] void FailWrite(QFile& file) {
  const QString why = file.errorString();
  const QString path = file.fileName();
  file.close();
  QFile::remove(path);
  throw Exception(QStringLiteral("Cannot write %1: %2").arg(path, why));
}

// Turns the program and parameters of a command line into what a process start needs.
QStringList CommandArguments(const QString& commandLine) {
  QStringList arguments = QProcess::splitCommand(commandLine);
  if (!arguments.isEmpty()) arguments.first() = update_rules::LocalPath(arguments.first());
  return arguments;
}

}  // namespace

TWebUpdate::TWebUpdate() : UpdatePublicKey(UpdateSignature::ReleasePublicKey()) {}

TWebUpdate::~TWebUpdate() {
  // A run waiting for this thread is let go, and its transfer is stopped.
  abandoned_ = true;
  cancelRequested_ = true;
  {
    std::lock_guard lock(mutex_);
    answered_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
}

void TWebUpdate::DoUpdate() {
  if (running_) return;
  if (worker_.joinable()) worker_.join();
  running_ = true;
  abandoned_ = false;
  // A cancel holds for the rest of its run: the host hears of progress a little later than
  // it happens, so its answer may arrive when the next transfer has begun.
  cancelRequested_ = false;
  utility_ = {};
  if (Utility) {
    utility_.present = true;
    utility_.showWindow = Utility->ShowWindow;
    utility_.showAnimation = Utility->ShowAnimation;
    utility_.caption = Utility->StatusCaption;
    utility_.message = Utility->StatusMessage;
  }
  worker_ = std::thread([this] { Run(); });
}

void TWebUpdate::Run() {
  try {
    RunStages();
  } catch (...) {
    failure_ = std::current_exception();
  }
  session_.reset();
  temporary_.reset();
  QMetaObject::invokeMethod(
      this, [this] { FinishRun(); }, Qt::QueuedConnection);
}

void TWebUpdate::FinishRun() {
  if (worker_.joinable()) worker_.join();
  running_ = false;
  const std::exception_ptr failure = std::exchange(failure_, nullptr);
  if (OnFinished) OnFinished(this);
  if (failure) RunGuarded([&] { std::rethrow_exception(failure); });
}

void TWebUpdate::RunStages() {
  componentFetched_ = false;
  ftpDirectorySet_ = false;
  controlFilePath_.clear();
  appUpdate_ = false;
  lastCancelled_ = false;
  lastDateInRegistry_ = false;
  releaseMoment_ = {};
  files_.clear();
  postResult_.clear();
  temporary_ = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                               QStringLiteral("/sonarelle-update-XXXXXX"));

  if (!Connect()) return;
  if (UpdateType == TWebUpdateType::ftpUpdate) ConnectFTP();
  if ((connected_ || UpdateType == TWebUpdateType::fileUpdate) && GetControlFile()) {
    if (CheckUpdate() == TUpdateOutcome::None) {
      appUpdate_ = false;
    } else if (RunInstructions() == 0) {
      bool cancelled = false;
      const QStringList notes = GetWhatsNew();
      if (!notes.isEmpty() && ShowWhatsNew(notes) == -1) cancelled = true;
      if (!cancelled) {
        const QStringList licence = GetLicense();
        if (!licence.isEmpty() && ShowLicense(licence) == -1) cancelled = true;
      }
      if (!cancelled && ReadFileList() > 0) {
        FilterFileList();
        const bool remain = !files_.empty();
        if (remain) {
          DownloadFiles();
          FinishUpdate();
        }
        Disconnect();
        if (remain && OnSuccess) OnOwner([&] { OnSuccess(this); });
        if (appUpdate_ && componentFetched_) RestartApplication();
        return;
      }
    }
    appUpdate_ = false;
  }
  Disconnect();
}

// ---- owner-thread calls and progress

void TWebUpdate::OnOwner(const std::function<void()>& call) {
  if (QThread::currentThread() == thread()) {
    call();
    return;
  }
  if (abandoned_) return;
  auto done = std::make_shared<bool>(false);
  auto error = std::make_shared<std::exception_ptr>();
  QMetaObject::invokeMethod(
      this,
      [this, call, done, error] {
        try {
          call();
        } catch (...) {
          *error = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        *done = true;
        answered_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  answered_.wait(lock, [&] { return *done || abandoned_; });
  if (*error) std::rethrow_exception(*error);
}

void TWebUpdate::PublishProgress(const QString& name, qint64 received, qint64 total, bool final) {
  // A progress bar needs no more than a few dozen steps a second; waking the window's thread
  // for every block of a fast download would cost more than the download.
  const auto now = std::chrono::steady_clock::now();
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    progress_.name = name;
    progress_.received = received;
    progress_.total = total;
    // Where a transfer ended is always delivered; a delivery still queued will carry it.
    post = !progress_.pending && (final || now - progress_.posted >= kProgressInterval);
    if (post) {
      progress_.pending = true;
      progress_.posted = now;
    }
  }
  if (post) {
    QMetaObject::invokeMethod(
        this, [this] { DeliverProgress(); }, Qt::QueuedConnection);
  }
}

void TWebUpdate::DeliverProgress() {
  Progress progress;
  {
    std::lock_guard lock(mutex_);
    if (!progress_.pending) return;
    progress = progress_;
    progress_.pending = false;
  }
  if (OnFileProgress) OnFileProgress(this, progress.name, progress.received, progress.total);
  bool cancel = false;
  if (OnProgressCancel) OnProgressCancel(this, &cancel);
  if (cancel) cancelRequested_ = true;
}

// ---- reports

void TWebUpdate::Report(int number, const QString& argument, int status, int error) {
  const QString text = update_reports::Text(number, argument);
  if (Logging) {
    QFile log(kLogFile);
    if (log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
      log.write(update_reports::LogLine(QDateTime::currentDateTime(), number, text, status, error)
                    .toUtf8() +
                "\n");
    }
  }
  if (OnStatus) OnOwner([&] { OnStatus(this, text, status, error); });
}

void TWebUpdate::Say(int number, const QString& argument) {
  const update_reports::TReport* report = update_reports::Find(number);
  Report(number, argument, report ? report->status : 0, report ? report->error : 0);
}

void TWebUpdate::ReportInternetError(int errorCode, const QString& errorText) {
  if (errorCode == 0 || errorText.isEmpty()) return;
  OnOwner([&] {
    if (OnStatus) {
      OnStatus(this, errorText, 1, errorCode);
    } else {
      ShowErrorBox(errorText);
    }
  });
}

// ---- connection

bool TWebUpdate::Connect() {
  session_.reset();
  connected_ = false;
  if (UpdateType == TWebUpdateType::fileUpdate) return true;
  Say(918);
  if (UpdateConnect == TWebUpdateConnect::wucNone) return true;
  const QString host =
      UpdateType == TWebUpdateType::ftpUpdate ? Host : QUrl(ControlFileURL()).host();
  if (!InternetConnectionExists(host)) {
    switch (UpdateConnect) {
      case TWebUpdateConnect::wucConnectPrompt:
      case TWebUpdateConnect::wucConnectPromptHangup:
        Say(919);
        break;
      case TWebUpdateConnect::wucConnectSilent:
      case TWebUpdateConnect::wucConnectSilentHangup:
        Say(920);
        break;
      default:
        return false;
    }
    // This system never dials: the connection it would open is not there.
    Say(953);
    return false;
  }
  Say(921);
  InternetSettings settings;
  settings.Agent = QStringLiteral("WebUpdate");
  settings.Proxy = Proxy;
  settings.ProxyUserID = ProxyUserID;
  settings.ProxyPassword = ProxyPassword;
  settings.UserID = UserID;
  settings.Password = Password;
  settings.FTPPassive = FTPPassive;
  settings.KeepAlive = true;
  settings.CaBundle = CaBundle;
  try {
    session_ = std::make_unique<InternetSession>(settings);
  } catch (const std::exception&) {
    Say(922);
    return false;
  }
  if (UpdateType == TWebUpdateType::httpUpdate) connected_ = true;
  return true;
}

bool TWebUpdate::ConnectFTP() {
  ftpDirectorySet_ = false;
  Say(923, Host);
  if (!session_) return false;
  const TransferResult result = session_->ConnectFtp(Host, Port);
  if (result.outcome != TransferResult::Outcome::Done) {
    ReportInternetError(result.errorCode, result.errorText);
    return false;
  }
  ftpConnected_ = true;
  connected_ = true;
  return true;
}

void TWebUpdate::Disconnect() {
  if (UpdateType != TWebUpdateType::fileUpdate) {
    if (ftpConnected_) {
      ftpConnected_ = false;
      Say(954);
    }
    if (session_) {
      session_.reset();
      Say(949);
    }
    // Nothing is ever dialled here, so there is no line to hang up (955).
    Say(949);
  }
  if (!controlFilePath_.isEmpty()) QFile::remove(controlFilePath_);
  connected_ = false;
}

// ---- the control file

QString TWebUpdate::ExpandToken(const QString& upperName) {
  return update_rules::DefaultExpandToken(upperName);
}

QString TWebUpdate::Expand(const QString& text) {
  QString converted = text;
  if (OnConvertPrefix) OnOwner([&] { OnConvertPrefix(this, &converted); });
  return update_rules::ExpandTokens(converted,
                                    [this](const QString& name) { return ExpandToken(name); });
}

QString TWebUpdate::FileNameFromURL(const QString& url) {
  QString name = update_rules::FileNameFromURL(url);
  if (OnFileNameFromURL) OnOwner([&] { OnFileNameFromURL(this, url, &name); });
  return name;
}

QString TWebUpdate::TemporaryFolder() const {
  return temporary_ ? temporary_->path() : QDir::tempPath();
}

QString TWebUpdate::ControlFileURL() {
  const QString remembered = update_registry::ReadLastURL(LastURLEntry);
  return Expand(remembered.isEmpty() ? URL : remembered);
}

bool TWebUpdate::GetControlFile() {
  const QString url = ControlFileURL();
  if (!DownloadFile(url, false, TemporaryFolder())) {
    Say(925);
    return false;
  }
  Say(926);
  controlFilePath_ = FolderPath(TemporaryFolder()) + FileNameFromURL(url);
  QFile file(controlFilePath_);
  const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  // Nothing of an unauthenticated file is acted on: no command, no file, no restart.
  if (VerifySignedUpdates && !VerifyControlFile(url, bytes)) {
    Say(927);
    return false;
  }
  control_ = TIniSnapshot::FromBytes(bytes);
  bool result = true;
  if (SignatureCheck && control_.ReadString(kUpdate, QStringLiteral("signature")) != Signature) {
    Say(927);
    result = false;
  }
  appUpdate_ = control_.ReadInteger(kApplication, QStringLiteral("appupdate"), 0) == 1;
  QString appName = Expand(control_.ReadString(kApplication, QStringLiteral("appname")));
  if (appName.isEmpty()) {
    appUpdate_ = false;
  } else {
    const int space = appName.indexOf(QLatin1Char(' '));
    const QString program = update_rules::LocalPath(space < 0 ? appName : appName.left(space));
    QString parameters = space < 0 ? QString() : appName.mid(space + 1);
    if (OnSetAppParams) OnOwner([&] { OnSetAppParams(this, &parameters); });
    appName = parameters.isEmpty() ? program : program + QLatin1Char(' ') + parameters;
    if (appName.contains(QLatin1Char(' '))) appName = QLatin1Char('"') + appName + QLatin1Char('"');
  }
  appName_ = appName;
  appComps_ = Expand(control_.ReadString(kApplication, QStringLiteral("appcomps")));
  silentRestart_ = control_.ReadInteger(kApplication, QStringLiteral("silentrestart"), 0) == 1;
  return result;
}

bool TWebUpdate::VerifyControlFile(const QString& url, const QByteArray& bytes) {
  const QByteArray signature = FetchSmall(url + QStringLiteral(".sig"));
  return !signature.isEmpty() && UpdateSignature::Verify(bytes, signature, UpdatePublicKey);
}

TIsNewerResult TWebUpdate::IsNewer(const QString& newVersion, const QString& localFile,
                                   qint32 newChecksum, qint64 newSize) {
  return update_rules::IsNewer(newVersion, localFile, newChecksum, newSize, VersionCheck, UseCRC32);
}

QDateTime TWebUpdate::Moment(const QString& date, const QString& time) const {
  return update_rules::ReadDateTime(date, time, DateFormat, DateSeparator, TimeSeparator);
}

TUpdateOutcome TWebUpdate::CheckUpdate() {
  TUpdateOutcome outcome = TUpdateOutcome::None;
  description_ = control_.ReadString(kUpdate, QStringLiteral("descr"));
  const QString date = control_.ReadString(kUpdate, QStringLiteral("date"));
  const QString localVersion =
      update_rules::LocalPath(Expand(control_.ReadString(kUpdate, QStringLiteral("localversion"))));
  if (!date.isEmpty()) {
    Say(928);
    releaseMoment_ = Moment(date, control_.ReadString(kUpdate, QStringLiteral("time")));
    QDateTime local;
    lastDateInRegistry_ = update_registry::KeepsLastDate(LastURLEntry);
    if (lastDateInRegistry_) local = update_registry::ReadLastDate(LastURLEntry);
    if (!local.isValid()) {
      const QFileInfo file(localVersion);
      local = !localVersion.isEmpty() && file.exists() ? file.lastModified()
                                                       : QDateTime(QDate(1980, 1, 1), QTime(0, 0));
    }
    if (local >= releaseMoment_) {
      Say(930);
    } else {
      outcome = TUpdateOutcome::Date;
      Say(929, date);
    }
  }
  if (!control_.ReadString(kUpdate, QStringLiteral("unconditional")).isEmpty() &&
      outcome == TUpdateOutcome::None) {
    outcome = TUpdateOutcome::Unconditional;
  }
  if (outcome == TUpdateOutcome::None) {
    const QString newVersion = control_.ReadString(kUpdate, QStringLiteral("newversion"));
    const int newSize = control_.ReadInteger(kUpdate, QStringLiteral("newsize"), 0);
    const int newChecksum = control_.ReadInteger(kUpdate, QStringLiteral("newchecksum"), -1);
    if ((!newVersion.isEmpty() || newSize > 0 || newChecksum != -1) && !localVersion.isEmpty()) {
      if (newChecksum != -1) {
        outcome = TUpdateOutcome::Checksum;
        Say(931);
      } else if (newSize < 1) {
        outcome = TUpdateOutcome::Version;
        Say(933);
      } else {
        outcome = TUpdateOutcome::Size;
        Say(932);
      }
    }
    const TIsNewerResult newer = IsNewer(newVersion, localVersion, newChecksum, newSize);
    if (newer.newer) {
      Say(929, newer.newVersionText.isEmpty() ? newVersion : newer.newVersionText);
    } else {
      Say(930);
      outcome = TUpdateOutcome::None;
    }
  }
  if (OnCustomValidate) {
    bool allow = outcome != TUpdateOutcome::None;
    const QString message =
        control_.ReadString(QStringLiteral("custom"), QStringLiteral("validatemsg"));
    const QString parameter =
        control_.ReadString(QStringLiteral("custom"), QStringLiteral("validateparam"));
    OnOwner([&] { OnCustomValidate(this, message, parameter, &allow); });
    outcome = allow ? TUpdateOutcome::Custom : TUpdateOutcome::None;
  }
  return outcome;
}

// ---- instructions, release notes and licence

int TWebUpdate::RunInstructions() {
  const QString message = control_.ReadString(kAction, QStringLiteral("msg"));
  if (!message.isEmpty()) {
    Say(934);
    OnOwner([&] { ShowInformation(FromLines(message)); });
  }
  const QString html = Expand(control_.ReadString(kAction, QStringLiteral("htmldlg")));
  if (!html.isEmpty()) {
    Say(935);
    const QString page = QString::fromUtf8(FetchSmall(html));
    OnOwner([&] { ShowHtmlDialog(page, html); });
  }
  const QString before = Expand(control_.ReadString(kAction, QStringLiteral("runbefore")));
  if (!before.isEmpty()) StartCommandLine(before);
  if (OnCustomProcess) {
    const QString message2 =
        control_.ReadString(QStringLiteral("custom"), QStringLiteral("processmsg"));
    const QString parameter =
        control_.ReadString(QStringLiteral("custom"), QStringLiteral("processparam"));
    OnOwner([&] { OnCustomProcess(this, message2, parameter); });
  }
  const QString show = Expand(control_.ReadString(kAction, QStringLiteral("showURL")));
  if (!show.isEmpty()) {
    Say(942);
    // The browser reaches the page through its own proxy settings: no credentials in the URL.
    OnOwner([&] { Shell::Open(show); });
  }
  const QString query = control_.ReadString(kAction, QStringLiteral("query"));
  if (!query.isEmpty()) {
    Say(936);
    bool yes = false;
    OnOwner([&] { yes = AskYesNo(FromLines(query)); });
    if (!yes) {
      appUpdate_ = false;
      return -1;
    }
  }
  return 0;
}

QStringList TWebUpdate::FetchText(const QString& url, int number) {
  if (url.isEmpty()) return {};
  Say(number);
  if (!DownloadFile(url, false, TemporaryFolder())) return {};
  const QString path = FolderPath(TemporaryFolder()) + FileNameFromURL(url);
  QFile file(path);
  QStringList lines;
  if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    QTextStream stream(&file);
    while (!stream.atEnd()) lines << stream.readLine();
  }
  file.close();
  QFile::remove(path);
  return lines;
}

QStringList TWebUpdate::GetWhatsNew() {
  return FetchText(control_.ReadString(QStringLiteral("whatsnew"), QStringLiteral("file")), 937);
}

QStringList TWebUpdate::GetLicense() {
  return FetchText(control_.ReadString(QStringLiteral("eula"), QStringLiteral("file")), 939);
}

int TWebUpdate::ShowWhatsNew(const QStringList& lines) {
  int result = 0;
  if (OnDownloadedWhatsNew) {
    OnOwner([&] { OnDownloadedWhatsNew(this, lines, &result); });
    return result == 1 ? 1 : -1;
  }
  const QString section = QStringLiteral("whatsnew");
  OnOwner([&] {
    result = update_windows::ShowWhatsNew(
        control_.ReadString(section, QStringLiteral("caption")), lines,
        control_.ReadString(section, QStringLiteral("okbtn"), QStringLiteral("Ok")),
        control_.ReadString(section, QStringLiteral("cancelbtn"), QStringLiteral("Cancel")));
  });
  if (result == -1) Say(938);
  return result;
}

int TWebUpdate::ShowLicense(const QStringList& lines) {
  int result = 0;
  if (OnDownloadedEULA) {
    OnOwner([&] { OnDownloadedEULA(this, lines, &result); });
    return result == 1 ? 1 : -1;
  }
  const QString section = QStringLiteral("eula");
  bool accepted = false;
  OnOwner([&] {
    accepted = update_windows::ShowLicense(
        control_.ReadString(section, QStringLiteral("caption")), lines,
        control_.ReadString(section, QStringLiteral("okbtn"), QStringLiteral("Ok")),
        control_.ReadString(section, QStringLiteral("accept"), QStringLiteral("I accept")),
        control_.ReadString(section, QStringLiteral("notaccept"),
                            QStringLiteral("I do not accept")));
  });
  return accepted ? 1 : -1;
}

// ---- the file list

int TWebUpdate::ReadFileList() {
  files_ =
      update_rules::ReadFileList(control_, [this](const QString& text) { return Expand(text); });
  if (!files_.empty()) Say(943);
  return static_cast<int>(files_.size());
}

void TWebUpdate::FilterFileList() {
  TFileList kept;
  for (const TFileDescription& file : files_) {
    bool keep = true;
    if (!file.LocalVersion.isEmpty() && !file.NewDate.isEmpty()) {
      const QFileInfo local(file.LocalVersion);
      keep = !(local.exists() && local.lastModified() >= Moment(file.NewDate, file.NewTime));
    } else {
      keep = IsNewer(file.NewVersion, file.LocalVersion, file.NewCheckSum, file.NewSize).newer;
      if (keep && !file.NewCustomVer.isEmpty() && OnFileVersionCheck) {
        OnOwner([&] { OnFileVersionCheck(this, file.NewCustomVer, file.LocalVersion, &keep); });
      }
    }
    if (keep) kept.push_back(file);
  }
  files_ = std::move(kept);
  if (OnGetFileList && !files_.empty()) {
    // A file without a description is listed by its URL, so that it is not taken for one
    // the host struck out.
    QStringList lines;
    for (const TFileDescription& file : files_) {
      lines << (file.Description.isEmpty() ? file.URL : file.Description);
    }
    OnOwner([&] { OnGetFileList(this, &lines); });
    TFileList listed;
    for (int i = 0; i < static_cast<int>(files_.size()); ++i) {
      if (i < lines.size() && !lines[i].isEmpty()) listed.push_back(files_[std::size_t(i)]);
    }
    files_ = std::move(listed);
  }
}

void TWebUpdate::DownloadFiles() {
  TWebUpdateUpdate mode = UpdateUpdate;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const TFileDescription& file = files_[i];
    QString url = file.URL;
    if (mode == TWebUpdateUpdate::wuuPromptAll) {
      bool yes = false;
      const QString question = update_reports::Text(909, {}) + FileNameFromURL(url);
      OnOwner([&] { yes = AskYesNo(question); });
      if (!yes) continue;
    } else if (mode == TWebUpdateUpdate::wuuPromptOnce) {
      bool yes = false;
      OnOwner([&] { yes = AskYesNo(update_reports::Text(910, {})); });
      if (!yes) break;
    }
    if (OnBeforeFileDownload) {
      OnOwner([&] { OnBeforeFileDownload(this, int(i) + 1, file.Description, &url); });
    }
    if (!file.TargetDir.isEmpty() && !QDir(file.TargetDir).exists()) QDir().mkpath(file.TargetDir);
    if (!DownloadFile(url, file.Compressed == 1, file.TargetDir, file.Sha256)) {
      Say(946, url);
      appUpdate_ = false;
      continue;
    }
    if (mode == TWebUpdateUpdate::wuuPromptOnce) mode = TWebUpdateUpdate::wuuSilent;
    const QString name = FileNameFromURL(url);
    const QString path = FolderPath(file.TargetDir) + name;
    const QString extension = UpperExtension(name);
    if (appComps_.contains(name, Qt::CaseInsensitive)) {
      componentFetched_ = true;
    } else if (extension == QStringLiteral(".CAB")) {
      if (ExtractCAB) {
        if (!Cabinet::Extract(path, file.TargetDir).isEmpty()) {
          Say(947, path);
        } else if (!KeepIntermediateFiles) {
          QFile::remove(path);
        }
      }
    } else if (extension == QStringLiteral(".PAT") && ApplyPatch && !file.LocalVersion.isEmpty()) {
      if (utility_.present && !QFile::exists(QStringLiteral("patcher.exe"))) WritePatcher();
      const QString command =
          Logging ? QStringLiteral("patcher.exe -v ") + path + QLatin1Char(' ') +
                        file.LocalVersion + QStringLiteral(">> WUPDATE.LOG")
                  : QStringLiteral("patcher.exe ") + path + QLatin1Char(' ') + file.LocalVersion;
      if (utility_.present) {
        RunAndWait(command, utility_.showWindow, utility_.message, utility_.caption,
                   utility_.showAnimation);
      } else {
        RunAndWait(command, true, {}, {}, false);
      }
      if (!KeepIntermediateFiles) QFile::remove(path);
    }
  }
}

// ---- transfers

bool TWebUpdate::DownloadFile(const QString& url, bool compressed, const QString& folder,
                              const QString& sha256) {
  Say(915, url);
  const QString localName = FileNameFromURL(url);
  // A name that is no file name would land on the folder itself, or above it.
  if (localName.isEmpty() || localName == QStringLiteral(".") ||
      localName == QStringLiteral("..") || localName.contains(QLatin1Char('/'))) {
    Say(917, url);
    return false;
  }
  QString target = FolderPath(folder) + localName;
  if (UpdateType == TWebUpdateType::fileUpdate) {
    if (QFileInfo(folder).isFile()) target = folder;
    if (!CopyLocalFile(update_rules::LocalPath(url), target, sha256)) return false;
  } else {
    QString source = url;
    if (UpdateType == TWebUpdateType::ftpUpdate) source = FtpUrl(localName);
    if (!Receive(source, localName, target, sha256)) return false;
  }
  FileDownloaded(target);
  if (compressed && !localName.toUpper().contains(QStringLiteral(".CAB"))) {
    ExpandCompressed(target);
  }
  return true;
}

QString TWebUpdate::FtpUrl(const QString& localName) {
  if (!ftpDirectorySet_) {
    ftpDirectory_ = FTPDirectory.isEmpty() ? QString() : Expand(FTPDirectory);
    ftpDirectorySet_ = true;
  }
  QUrl url;
  url.setScheme(QStringLiteral("ftp"));
  url.setHost(Host);
  url.setPort(Port);
  QString path = ftpDirectory_;
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (!path.startsWith(QLatin1Char('/'))) path.prepend(QLatin1Char('/'));
  url.setPath(FolderPath(path) + localName);
  return url.toString();
}

std::unique_ptr<QTemporaryFile> TWebUpdate::TemporaryFileFor(const QString& target) {
  // The finished file is renamed onto its target, which needs both on one filesystem.
  const QString targetFolder = QFileInfo(target).absolutePath();
  const QString folder = !TempDirectory.isEmpty() && SameDevice(TempDirectory, targetFolder)
                             ? TempDirectory
                             : targetFolder;
  auto file = std::make_unique<QTemporaryFile>(FolderPath(folder) + QStringLiteral("WUPDXXXXXX"));
  file->setAutoRemove(false);
  if (!file->open()) {
    throw Exception(
        QStringLiteral("Cannot create a file in %1: %2").arg(folder, file->errorString()));
  }
  return file;
}

bool TWebUpdate::Receive(const QString& url, const QString& localName, const QString& target,
                         const QString& sha256) {
  if (!session_) {
    Say(917, url);
    return false;
  }
  const std::unique_ptr<QTemporaryFile> temporaryFile = TemporaryFileFor(target);
  QFile& file = *temporaryFile;
  const QString temporary = file.fileName();
  UpdateSignature::Sha256 digest;
  const TransferResult result = session_->Fetch(
      url,
      [&](const char* data, qint64 size) {
        if (!sha256.isEmpty()) digest.Add(data, size);
        return file.write(data, size) == size;
      },
      [&](qint64 received, qint64 total) {
        PublishProgress(localName, received, total, false);
        return CancelRequested();
      });
  PublishProgress(localName, result.received, result.total, true);
  const bool closed = file.flush() && file.error() == QFileDevice::NoError;
  file.close();
  lastCancelled_ = result.outcome == TransferResult::Outcome::Cancelled;
  if (result.outcome == TransferResult::Outcome::WriteError || !closed) FailWrite(file);
  if (result.outcome != TransferResult::Outcome::Done || result.received == 0) {
    QFile::remove(temporary);
    if (result.outcome == TransferResult::Outcome::HttpStatus) {
      Report(916, QString::number(result.status), 6, int(result.status));
    } else if (result.outcome == TransferResult::Outcome::NotOpened) {
      Say(917, url);
    }
    return false;
  }
  return Install(temporary, target, sha256, sha256.isEmpty() ? QString() : digest.Hex());
}

bool TWebUpdate::CopyLocalFile(const QString& source, const QString& target,
                               const QString& sha256) {
  if (QFileInfo(source).absoluteFilePath() == QFileInfo(target).absoluteFilePath()) {
    Say(912, source);
    return false;
  }
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) {
    Say(913, source);
    return false;
  }
  const qint64 total = in.size();
  if (total <= 0) {
    Say(914, source);
    return false;
  }
  const std::unique_ptr<QTemporaryFile> temporaryFile = TemporaryFileFor(target);
  QFile& out = *temporaryFile;
  const QString temporary = out.fileName();
  const QString name = QFileInfo(target).fileName();
  UpdateSignature::Sha256 digest;
  QByteArray block;
  qint64 copied = 0;
  bool failed = false;
  while (!CancelRequested()) {
    block = in.read(kCopyBlock);
    if (block.isEmpty()) {
      failed = in.error() != QFileDevice::NoError;
      break;
    }
    if (out.write(block) != block.size()) FailWrite(out);
    if (!sha256.isEmpty()) digest.Add(block.constData(), block.size());
    copied += block.size();
    PublishProgress(name, copied, total, false);
  }
  PublishProgress(name, copied, total, true);
  lastCancelled_ = CancelRequested();
  out.close();
  if (failed || lastCancelled_ || copied == 0) {
    QFile::remove(temporary);
    return false;
  }
  return Install(temporary, target, sha256, sha256.isEmpty() ? QString() : digest.Hex());
}

bool TWebUpdate::Install(const QString& temporary, const QString& target, const QString& sha256,
                         const QString& received) {
  if (!sha256.isEmpty() && received.compare(sha256.trimmed(), Qt::CaseInsensitive) != 0) {
    QFile::remove(temporary);
    return false;
  }
  // One rename: the target is at every moment either the old file or the whole new one.
  if (std::rename(QFile::encodeName(temporary).constData(),
                  QFile::encodeName(target).constData()) != 0) {
    const QString why = QString::fromLocal8Bit(std::strerror(errno));
    QFile::remove(temporary);
    throw Exception(QStringLiteral("Cannot store %1: %2").arg(target, why));
  }
  return true;
}

QByteArray TWebUpdate::FetchSmall(const QString& url) {
  if (UpdateType == TWebUpdateType::fileUpdate) {
    QFile file(update_rules::LocalPath(url));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSmallFetch) return {};
    return file.readAll();
  }
  if (!session_) return {};
  const QString source =
      UpdateType == TWebUpdateType::ftpUpdate ? FtpUrl(update_rules::FileNameFromURL(url)) : url;
  QByteArray bytes;
  const TransferResult result = session_->Fetch(
      source,
      [&](const char* data, qint64 size) {
        bytes.append(data, size);
        return bytes.size() <= kMaxSmallFetch;
      },
      [this](qint64, qint64) { return abandoned_.load(); });
  return result.outcome == TransferResult::Outcome::Done ? bytes : QByteArray();
}

void TWebUpdate::ExpandCompressed(const QString& path) {
  if (!Szdd::IsSzdd(path)) return;
  const QString expanded = Szdd::ExpandedName(path);
  if (Szdd::Expand(path, expanded).isEmpty() && expanded != path) QFile::remove(path);
}

void TWebUpdate::FileDownloaded(const QString& fileName) {
  if (OnFileDownloaded) OnOwner([&] { OnFileDownloaded(this, fileName); });
}

// ---- after the downloads

void TWebUpdate::FinishUpdate() {
  if (lastCancelled_) return;
  if (PostUpdateInfo.Enabled) {
    SendPost();
    if (OnProcessPostResult) {
      bool allow = true;
      OnOwner([&] { OnProcessPostResult(this, &allow); });
    }
  }
  if (lastDateInRegistry_) update_registry::WriteLastDate(LastURLEntry, releaseMoment_);
  const QString redirect = control_.ReadString(kAction, QStringLiteral("updateURL"));
  if (!redirect.isEmpty()) {
    Say(941);
    update_registry::WriteLastURL(LastURLEntry, redirect);
  }
  if (utility_.present && ApplyPatch) WritePatcher();
  const QString after = Expand(control_.ReadString(kAction, QStringLiteral("runafter")));
  if (!after.isEmpty()) StartCommandLine(after);
  Say(948);
}

void TWebUpdate::SendPost() {
  if (PostUpdateInfo.Server.isEmpty() || PostUpdateInfo.Action.isEmpty()) return;
  InternetSettings settings;
  settings.Agent = QStringLiteral("TWebUpdate");
  InternetSession post(settings);
  QString action = PostUpdateInfo.Action;
  if (!action.startsWith(QLatin1Char('/'))) action.prepend(QLatin1Char('/'));
  QByteArray answer;
  const TransferResult result =
      post.Post(QStringLiteral("http://%1:80%2").arg(PostUpdateInfo.Server, action),
                PostUpdateInfo.Data.toUtf8(), &answer);
  if (result.outcome == TransferResult::Outcome::NotOpened) {
    Say(951);
  } else if (result.outcome != TransferResult::Outcome::Done) {
    Say(952);
  } else {
    postResult_ = QString::fromUtf8(answer);
  }
}

QString TWebUpdate::WriteUpdater() {
  // The updater runs from a copy of its own, so that it can replace the program's copy too.
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
                         QStringLiteral("/updater");
  QDir().mkpath(folder);
  QString target = folder + QLatin1Char('/') + kUpdaterName;
  QString source = ProgramFolder() + kUpdaterName;
  if (!QFile::exists(source)) return source;
  const QString temporary = target + QStringLiteral(".new");
  QFile::remove(temporary);
  if (QFile::copy(source, temporary) && std::rename(QFile::encodeName(temporary).constData(),
                                                    QFile::encodeName(target).constData()) == 0) {
    return target;
  }
  QFile::remove(temporary);
  return source;
}

void TWebUpdate::WritePatcher() {
  // This program carries no patch tool of its own.
}

void TWebUpdate::RestartApplication() {
  bool cancel = false;
  if (OnProgressCancel) OnOwner([&] { OnProgressCancel(this, &cancel); });
  if (cancel) return;
  bool allow = true;
  if (OnAppRestart) {
    OnOwner([&] { OnAppRestart(this, &allow); });
  } else if (!silentRestart_) {
    OnOwner([&] { allow = AskYesNo(update_reports::Text(911, {})); });
  }
  if (!allow) return;
  const QString updater = WriteUpdater();
  QStringList arguments =
      QProcess::splitCommand(QString::number(QCoreApplication::applicationPid()) +
                             QLatin1Char(' ') + appName_ + QLatin1Char(' ') + appComps_);
  const QFileInfo program(updater);
  if (!program.isFile() || !program.isExecutable() ||
      !QProcess::startDetached(updater, arguments, QDir::currentPath())) {
    const int error = program.exists() ? EACCES : ENOENT;
    Report(950, QString::fromLocal8Bit(std::strerror(error)), 9, error);
  }
  OnOwner([&] {
    if (OnAppDoClose) {
      OnAppDoClose(this);
    } else {
      QCoreApplication::quit();
    }
  });
}

bool TWebUpdate::RunAndWait(const QString& commandLine, bool show, const QString& message,
                            const QString& caption, bool animate) {
  Say(18, commandLine);
  std::unique_ptr<QDialog> window;
  if (animate) {
    OnOwner([&] {
      if (!HaveWidgets()) return;
      window = std::make_unique<QDialog>(
          nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
      window->setWindowTitle(caption);
      window->setFixedSize(300, 170);
      auto* animation = new QProgressBar(window.get());
      animation->setRange(0, 0);
      animation->setGeometry(10, 10, 280, 20);
      auto* label = new QLabel(message, window.get());
      label->move(10, animation->geometry().bottom() + 1 + 8);
      window->show();
    });
  }
  Q_UNUSED(show);  // A command line has no window of its own to show or hide here.
  QProcess process;
  process.setProgram(QStringLiteral("/bin/sh"));
  process.setArguments({QStringLiteral("-c"), commandLine});
  // Like the platform it was written for, a bare program name is also found in the current folder.
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("PATH"), QDir::currentPath() + QLatin1Char(':') +
                                                 environment.value(QStringLiteral("PATH")));
  process.setProcessEnvironment(environment);
  process.start();
  const bool finished = process.waitForFinished(-1);
  if (window) OnOwner([&] { window.reset(); });
  return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void TWebUpdate::StartCommandLine(const QString& commandLine) {
  QStringList arguments = CommandArguments(commandLine);
  if (arguments.isEmpty()) return;
  const QString program = arguments.takeFirst();
  OnOwner([&] { Shell::Start(program, arguments); });
}

}  // namespace sonarelle

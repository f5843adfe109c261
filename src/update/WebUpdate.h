#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "platform/IniSnapshot.h"
#include "update/UpdateRegistry.h"
#include "update/UpdateRules.h"

class QTemporaryDir;
class QTemporaryFile;

namespace sonarelle {

class InternetSession;

using update_rules::TFileDescription;
using update_rules::TFileList;
using update_rules::TIsNewerResult;
using update_rules::TWebUpdateVersionCheck;

enum class TWebUpdateType { ftpUpdate, httpUpdate, fileUpdate };
enum class TWebUpdateConnect {
  wucNoConnect,
  wucConnectPrompt,
  wucConnectSilent,
  wucConnectPromptHangup,
  wucConnectSilentHangup,
  wucNone
};
enum class TWebUpdateUpdate { wuuPromptOnce, wuuPromptAll, wuuSilent };

// The outcome of the update decision, numbered as the engine's result codes.
enum class TUpdateOutcome {
  Date = 6,
  None = 7,
  Unconditional = 8,
  Size = 9,
  Checksum = 10,
  Version = 11,
  Custom = 12
};

// The HTTP POST sent after an update; its answer is kept as the post result.
struct TPostUpdateInfo {
  QString Server;
  QString Action;
  QString Data;
  bool Enabled = false;
};

// Window settings of the patch tool and of the wait window shown while it runs.
class TWebUpdateUtility : public QObject {
 public:
  bool ShowWindow = true;
  bool ShowAnimation = false;
  QString StatusCaption;
  QString StatusMessage;
};

// One online update: fetches the control file, decides, asks, downloads, unpacks and
// restarts. A run works on a thread of its own; every callback, question and window is
// raised on the thread that owns the engine, which stays free to handle its events.
class TWebUpdate : public QObject {
 public:
  TWebUpdate();
  ~TWebUpdate() override;

  // Settings.
  QString URL;
  TWebUpdateType UpdateType = TWebUpdateType::ftpUpdate;
  TWebUpdateConnect UpdateConnect = TWebUpdateConnect::wucNoConnect;
  TWebUpdateUpdate UpdateUpdate = TWebUpdateUpdate::wuuPromptOnce;
  TWebUpdateVersionCheck VersionCheck = TWebUpdateVersionCheck::vcUpdateOnly;
  bool UseCRC32 = false;
  QString Signature = QStringLiteral("WebUpdate");
  bool SignatureCheck = false;
  QString DateFormat = QStringLiteral("dd/mm/yyyy");
  QChar DateSeparator = QLatin1Char('/');
  QString TimeFormat = QStringLiteral("hh:nn");
  QChar TimeSeparator = QLatin1Char(':');
  bool ExtractCAB = false;
  bool ApplyPatch = false;
  bool KeepIntermediateFiles = false;
  QString TempDirectory = QStringLiteral(".");
  bool Logging = false;
  QString Proxy;
  QString ProxyUserID;
  QString ProxyPassword;
  QString Host;
  int Port = 21;
  QString UserID;
  QString Password;
  QString FTPDirectory;
  bool FTPPassive = false;
  bool ExistingConnection = false;
  bool HTTPKeepAliveAuthentication = false;
  TLastURLEntry LastURLEntry;
  TPostUpdateInfo PostUpdateInfo;
  QPointer<TWebUpdateUtility> Utility;

  // Authenticity: the control file must carry a valid detached signature (its URL + ".sig")
  // by the holder of this public key, and a file's "sha256" must match what arrived.
  bool VerifySignedUpdates = true;
  QByteArray UpdatePublicKey;
  // Extra trusted certificates for HTTPS (a PEM file); empty: the system's.
  QString CaBundle;

  // Callbacks, raised on the owner's thread; `var` parameters are pointers.
  std::function<void(TWebUpdate*, const QString&, qint64, qint64)> OnFileProgress;
  std::function<void(TWebUpdate*, bool*)> OnProgressCancel;
  std::function<void(TWebUpdate*, const QString&)> OnFileDownloaded;
  std::function<void(TWebUpdate*, const QString&, const QString&, bool*)> OnFileVersionCheck;
  std::function<void(TWebUpdate*, int, const QString&, QString*)> OnBeforeFileDownload;
  std::function<void(TWebUpdate*, const QString&, QString*)> OnFileNameFromURL;
  std::function<void(TWebUpdate*, QString*)> OnConvertPrefix;
  std::function<void(TWebUpdate*, QString*)> OnSetAppParams;
  std::function<void(TWebUpdate*, QStringList*)> OnGetFileList;
  std::function<void(TWebUpdate*, const QString&, const QString&, bool*)> OnCustomValidate;
  std::function<void(TWebUpdate*, const QString&, const QString&)> OnCustomProcess;
  std::function<void(TWebUpdate*, const QStringList&, int*)> OnDownloadedWhatsNew;
  std::function<void(TWebUpdate*, const QStringList&, int*)> OnDownloadedEULA;
  std::function<void(TWebUpdate*, bool*)> OnProcessPostResult;
  std::function<void(TWebUpdate*, const QString&, int, int)> OnStatus;
  std::function<void(TWebUpdate*, bool*)> OnAppRestart;
  std::function<void(TWebUpdate*)> OnAppDoClose;
  std::function<void(TWebUpdate*)> OnSuccess;
  // Raised when a run has ended, whatever its outcome.
  std::function<void(TWebUpdate*)> OnFinished;

  // Starts a whole update and returns at once; outcomes are reported. Ignored while a run
  // is going on. An error writing a downloaded file is raised on the owner's thread.
  void DoUpdate();
  // Whether a run is going on.
  bool Running() const { return running_; }

  // What the last run left for the host.
  QString UpdateDescription() const { return description_; }
  QString PostResult() const { return postResult_; }
  const TFileList& FileList() const { return files_; }

 protected:
  // The engine's overridable steps, in the order of its table.
  virtual int ShowWhatsNew(const QStringList& lines);
  virtual int ShowLicense(const QStringList& lines);
  virtual void Report(int number, const QString& argument, int status, int error);
  virtual QString WriteUpdater();
  virtual void WritePatcher();
  virtual TIsNewerResult IsNewer(const QString& newVersion, const QString& localFile,
                                 qint32 newChecksum, qint64 newSize);
  virtual void FileDownloaded(const QString& fileName);
  virtual bool Connect();
  virtual void Disconnect();
  virtual bool ConnectFTP();
  virtual QString ControlFileURL();
  virtual bool GetControlFile();
  virtual TUpdateOutcome CheckUpdate();
  virtual int RunInstructions();
  virtual QStringList GetWhatsNew();
  virtual QStringList GetLicense();
  virtual int ReadFileList();
  virtual void FilterFileList();
  virtual void DownloadFiles();
  virtual QString ExpandToken(const QString& upperName);

 private:
  void Run();
  void RunStages();
  void FinishRun();
  // Reports `number` with the codes of its table entry.
  void Say(int number, const QString& argument = {});
  void ReportInternetError(int errorCode, const QString& errorText);
  QString Expand(const QString& text);
  QString FileNameFromURL(const QString& url);
  QString TemporaryFolder() const;
  QDateTime Moment(const QString& date, const QString& time) const;
  bool VerifyControlFile(const QString& url, const QByteArray& bytes);
  QStringList FetchText(const QString& url, int number);
  bool DownloadFile(const QString& url, bool compressed, const QString& folder,
                    const QString& sha256 = {});
  QString FtpUrl(const QString& localName);
  // A new file "WUPD..." on the target's filesystem, open for writing.
  std::unique_ptr<QTemporaryFile> TemporaryFileFor(const QString& target);
  bool Receive(const QString& url, const QString& localName, const QString& target,
               const QString& sha256);
  bool CopyLocalFile(const QString& source, const QString& target, const QString& sha256);
  // Renames a complete download onto its target when its digest `received` is the one expected.
  bool Install(const QString& temporary, const QString& target, const QString& sha256,
               const QString& received);
  // A small file (a signature, a page) fetched without reports; empty when it cannot be had.
  QByteArray FetchSmall(const QString& url);
  void ExpandCompressed(const QString& path);
  void FinishUpdate();
  void SendPost();
  void RestartApplication();
  bool RunAndWait(const QString& commandLine, bool show, const QString& message,
                  const QString& caption, bool animate);
  void StartCommandLine(const QString& commandLine);

  // Calls `call` on the owner's thread and waits for it; at once when already there.
  void OnOwner(const std::function<void()>& call);
  // Progress of the current transfer: the owner hears of it as fast as it can handle it.
  void PublishProgress(const QString& name, qint64 received, qint64 total, bool final);
  void DeliverProgress();
  bool CancelRequested() const { return cancelRequested_; }

  // Run state.
  std::unique_ptr<InternetSession> session_;
  std::unique_ptr<QTemporaryDir> temporary_;
  bool connected_ = false;
  bool ftpConnected_ = false;
  QString controlFilePath_;
  TIniSnapshot control_;
  bool appUpdate_ = false;
  bool componentFetched_ = false;
  QString appName_;
  QString appComps_;
  bool silentRestart_ = false;
  bool ftpDirectorySet_ = false;
  bool lastCancelled_ = false;
  QString description_;
  QDateTime releaseMoment_;
  bool lastDateInRegistry_ = false;
  TFileList files_;
  QString postResult_;
  QString ftpDirectory_;
  // The patch tool's settings, taken when the run starts.
  struct UtilitySettings {
    bool present = false;
    bool showWindow = true;
    bool showAnimation = false;
    QString caption;
    QString message;
  } utility_;

  std::thread worker_;
  std::atomic<bool> running_{false};
  std::atomic<bool> abandoned_{false};
  std::atomic<bool> cancelRequested_{false};
  std::exception_ptr failure_;
  std::mutex mutex_;
  std::condition_variable answered_;
  struct Progress {
    QString name;
    qint64 received = 0;
    qint64 total = 0;
    bool pending = false;
    std::chrono::steady_clock::time_point posted;
  } progress_;
};

}  // namespace sonarelle

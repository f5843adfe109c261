#pragma once

#include <QString>
#include <QTemporaryDir>

// A folder with little room, for tests of a full disk on a real file system: a tmpfs of the
// given size in a private mount namespace where the machine allows one (the test then runs
// again, whole, in a child process inside that namespace), else an ordinary folder under a
// file-size limit that the test turns on (Arm) right before the writes that should fail.
class SmallDisk {
 public:
  explicit SmallDisk(qint64 bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  // True where the test ran again in a namespace: its result was reported, it ends here.
  bool RanElsewhere() const { return ranElsewhere_; }
  QString Folder() const { return folder_.path(); }
  // "tmpfs" or "file-size limit", for the test's messages.
  QString Kind() const;
  // The file-size limit on this process and those it starts; nothing on a tmpfs.
  void Arm();
  void Disarm();

 private:
  qint64 bytes_;
  QTemporaryDir folder_;
  bool tmpfs_ = false;
  bool ranElsewhere_ = false;
  bool armed_ = false;
};

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include <QTemporaryDir>

#include "WaveBytes.h"
#include "audio/wavefile/RiffFile.h"

using namespace sonarelle;
using namespace wavebytes;

namespace {

class RiffFileTest : public ::testing::Test {
 protected:
  QString Path(const char* name = "f.riff") const {
    return dir_.filePath(QString::fromLatin1(name));
  }
  QTemporaryDir dir_;
};

// Random writes, overwrites, seeks past the end and reads through a buffer far smaller
// than the pieces, checked against a plain byte model of the file.
TEST_F(RiffFileTest, BufferedReadsAndWritesMatchAPlainModel) {
  for (int bufferSize : {1, 7, 64, 4096}) {
    SCOPED_TRACE(bufferSize);
    std::mt19937 random(1234 + bufferSize);
    std::vector<char> model;
    RiffFile file;
    ASSERT_TRUE(file.Open(Path(), RiffFile::Access::Create, bufferSize));
    for (int step = 0; step < 400; ++step) {
      const auto pos = static_cast<std::int64_t>(random() % (model.size() + 50));
      const auto count = static_cast<std::int64_t>(random() % 300);
      ASSERT_EQ(file.Seek(pos), pos);
      if (random() % 3 != 0) {
        const QByteArray bytes = Ramp(count, step);
        ASSERT_EQ(file.Write(bytes.constData(), count), count);
        if (model.size() < static_cast<size_t>(pos + count)) {
          model.resize(static_cast<size_t>(pos + count), '\0');
        }
        std::copy(bytes.begin(), bytes.end(), model.begin() + pos);
      } else {
        std::vector<char> got(static_cast<size_t>(count));
        const std::int64_t expected =
            std::max<std::int64_t>(0, std::min<std::int64_t>(count, model.size() - pos));
        ASSERT_EQ(file.Read(got.data(), count), expected);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, model.begin() + pos));
      }
      ASSERT_EQ(file.Size(), static_cast<std::int64_t>(model.size()));
    }
    ASSERT_TRUE(file.Close());
    const QByteArray disk = Get(Path());
    ASSERT_EQ(disk.size(), static_cast<qsizetype>(model.size()));
    EXPECT_TRUE(std::equal(model.begin(), model.end(), disk.begin()));
  }
}

TEST_F(RiffFileTest, CreatedChunksGetTheirSizesAndPadBytesOnAscend) {
  RiffFile file;
  ASSERT_TRUE(file.Open(Path(), RiffFile::Access::Create, 5));
  RiffChunk riff;
  riff.formType = FourCC("WAVE");
  ASSERT_TRUE(file.CreateChunk(riff, RiffFile::Find::Riff));
  RiffChunk odd;
  odd.id = FourCC("abcd");
  ASSERT_TRUE(file.CreateChunk(odd));
  ASSERT_EQ(file.Write("xyz", 3), 3);
  ASSERT_TRUE(file.Ascend(odd));
  EXPECT_EQ(odd.size, 3u);
  EXPECT_FALSE(odd.dirty);
  EXPECT_EQ(file.Position(), 24);  // after the pad byte
  RiffChunk list;
  list.formType = FourCC("INFO");
  ASSERT_TRUE(file.CreateChunk(list, RiffFile::Find::List));
  RiffChunk empty;
  empty.id = FourCC("INAM");
  ASSERT_TRUE(file.CreateChunk(empty));
  ASSERT_TRUE(file.Ascend(empty));
  ASSERT_TRUE(file.Ascend(list));
  ASSERT_TRUE(file.Ascend(riff));
  ASSERT_TRUE(file.Close());

  const QByteArray expected = QByteArray("RIFF") + U32(36) + "WAVE" + "abcd" + U32(3) +
                              QByteArray("xyz\0", 4) + "LIST" + U32(12) + "INFO" + "INAM" + U32(0);
  EXPECT_EQ(Get(Path()).toHex(), expected.toHex());
}

TEST_F(RiffFileTest, DescendStaysInsideTheParentAndTheFile) {
  // Inside RIFF: an odd chunk, an empty one, a LIST; behind RIFF's end one more chunk.
  const QByteArray inner = Chunk("odd ", "12345") + Chunk("zero", QByteArray()) +
                           Chunk("LIST", QByteArray("INFO") + Chunk("ICMT", "hi"));
  const QByteArray bytes = Riff(inner) + Chunk("late", "abcd");
  ASSERT_TRUE(Put(Path(), bytes));

  RiffFile file;
  ASSERT_TRUE(file.Open(Path(), RiffFile::Access::ReadOnly));
  RiffChunk riff;
  riff.formType = FourCC("WAVE");
  ASSERT_TRUE(file.Descend(riff, nullptr, RiffFile::Find::Riff));
  EXPECT_EQ(riff.dataOffset, 8);
  EXPECT_EQ(file.Position(), 12);

  RiffChunk list;
  list.formType = FourCC("INFO");
  ASSERT_TRUE(file.Descend(list, &riff, RiffFile::Find::List));
  EXPECT_EQ(list.dataOffset, 12 + 14 + 8 + 8);
  RiffChunk comment;
  ASSERT_TRUE(file.Descend(comment, &list));
  EXPECT_EQ(comment.id, FourCC("ICMT"));
  EXPECT_EQ(comment.size, 2u);
  ASSERT_TRUE(file.Ascend(comment));
  EXPECT_FALSE(file.Descend(comment, &list));  // nothing more in the list
  ASSERT_TRUE(file.Ascend(list));

  // "late" lies behind the parent's end: not found, and the position is kept.
  const std::int64_t before = file.Position();
  RiffChunk late;
  late.id = FourCC("late");
  EXPECT_FALSE(file.Descend(late, &riff, RiffFile::Find::Chunk));
  EXPECT_EQ(file.Position(), before);
  file.Seek(12);
  RiffChunk zero;
  zero.id = FourCC("zero");
  ASSERT_TRUE(file.Descend(zero, &riff, RiffFile::Find::Chunk));
  EXPECT_EQ(zero.size, 0u);
  EXPECT_EQ(zero.dataOffset, 12 + 14 + 8);
}

TEST_F(RiffFileTest, HugeAndTruncatedChunkSizesEndAWalk) {
  // A chunk claiming 4 GiB, then a truncated header: every walk must end.
  const QByteArray bytes =
      QByteArray("RIFF") + U32(0xFFFFFFFF) + "WAVE" + "big " + U32(0xFFFFFFFF) + "abc" + "tr";
  ASSERT_TRUE(Put(Path(), bytes));
  RiffFile file;
  ASSERT_TRUE(file.Open(Path(), RiffFile::Access::ReadOnly, 16));
  RiffChunk riff;
  ASSERT_TRUE(file.Descend(riff));
  RiffChunk any;
  ASSERT_TRUE(file.Descend(any, &riff));
  EXPECT_EQ(any.size, 0xFFFFFFFFu);
  ASSERT_TRUE(file.Ascend(any));  // far past the end of the file
  EXPECT_FALSE(file.Descend(any, &riff));
  char c = 0;
  EXPECT_EQ(file.Read(&c, 1), 0);

  RiffChunk missing;
  missing.id = FourCC("none");
  file.Seek(12);
  EXPECT_FALSE(file.Descend(missing, &riff, RiffFile::Find::Chunk));
}

TEST_F(RiffFileTest, RefusesWhatCannotBeOpenedOrWritten) {
  RiffFile file;
  EXPECT_FALSE(file.Open(Path("missing"), RiffFile::Access::ReadOnly));
  EXPECT_FALSE(file.Open(dir_.path(), RiffFile::Access::ReadOnly));  // a folder
  EXPECT_FALSE(file.Open(dir_.filePath("no/such/folder"), RiffFile::Access::Create));
  ASSERT_TRUE(Put(Path(), "abc"));
  ASSERT_TRUE(file.Open(Path(), RiffFile::Access::ReadOnly));
  EXPECT_EQ(file.Write("x", 1), -1);
  RiffChunk chunk;
  EXPECT_FALSE(file.CreateChunk(chunk));
  EXPECT_EQ(file.Seek(-1), -1);
  EXPECT_EQ(Get(Path()), "abc");
}

}  // namespace

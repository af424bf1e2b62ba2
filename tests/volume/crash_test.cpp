// Power loss at every device write k of an operation (later writes are
// dropped): the checker then finds nothing but leaks, every file reads as
// before the operation or as one of its steps left it (data written in
// place: each byte old or new), the volume takes new work, and the repair
// leaves it clean with every file still as before or after.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "blockdev/device_faults.h"
#include "fsck/fsck.h"
#include "fsck/repair.h"
#include "helpers.h"
#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/record_edit.h"
#include "volume/fileops/fileops.h"

namespace vrax {
namespace {

using test::Bytes;
using test::PatternBytes;
using test::ReadTree;
using test::Tree;
using Step = std::function<void()>;
constexpr auto Create = test::CreatePath;
constexpr auto Write = test::WritePath;
constexpr auto Truncate = test::TruncatePath;
uint32_t SizeOf(const std::string& path) {
  return static_cast<uint32_t>(test::ReadPath(path).size());
}

// Room left in the base record of `path`, or 0 once the file continues in
// extension records.
uint32_t BaseRoom(const std::string& path) {
  Toolkit* t = nullptr;
  uint32_t room = 0;
  if (ToolkitOpen(t, path.c_str()) == 0 && t->fileChain.head->next == nullptr) {
    room = RecordFreeRoom(t->fileChain.head->image);
  }
  ToolkitClose(t);
  return room;
}

// Makes `path` a file of one-cluster runs (every cluster it gets is
// followed by one of a spacer file) until its base record is nearly full,
// then removes the spacer: the next write of several clusters gets
// one-cluster runs too, and no longer fits the base record.
void FragmentNearlyFull(const std::string& path) {
  Create(path);
  for (uint32_t i = 0; i < 400 && BaseRoom(path) >= 24; ++i) {
    Write(path, i * 4096, PatternBytes(4096, static_cast<uint8_t>(i)));
    Write("/1/spacer", i * 4096, Bytes(4096, 0x11));
  }
  ToolkitRemove("/1/spacer");
}

// Free MFT records: files are created until one more would grow the MFT.
void UseAllRecords(const std::string& dir) {
  Toolkit* t = nullptr;
  ASSERT_EQ(ToolkitOpen(t, "/1"), 0);
  const uint32_t held = RecordsHeld(t);
  Bytes bitmap((held + 7) / 8);
  uint32_t done = 0;
  AttributeTransfer(t, AT_BITMAP, t->mftChain, bitmap.data(), static_cast<uint32_t>(bitmap.size()),
                    0, done, kTransferRead);
  ToolkitClose(t);
  uint32_t free = 0;
  for (uint32_t n = 0; n < held; ++n) free += ((bitmap[n / 8] >> (n % 8)) & 1) == 0;
  for (uint32_t i = 0; i < free; ++i) Create(dir + "/r" + std::to_string(i));
}

struct Verdict : fsck::CheckPass {
  std::string text;
};

std::string Printed(const std::function<void(std::FILE*)>& run) {
  char* buffer = nullptr;
  size_t length = 0;
  std::FILE* out = open_memstream(&buffer, &length);
  run(out);
  std::fclose(out);
  std::string text(buffer, length);
  std::free(buffer);
  return text;
}

Verdict Check(const std::string& image) {
  Verdict v;
  v.text = Printed([&](std::FILE* out) {
    static_cast<fsck::CheckPass&>(v) = fsck::CheckOnce(image, false, out, out);
  });
  return v;
}

int Repair(const std::string& image, std::string& text) {
  int code = -1;
  text = Printed([&](std::FILE* out) { code = fsck::RepairVolume(image, false, out, out); });
  return code;
}

// Whether `got` is one of the states of a path, or a mix of two
// neighbouring states written in place (each byte old or new).
bool Allowed(const std::vector<const Bytes*>& states, const Bytes* got) {
  for (size_t i = 0; i < states.size(); ++i) {
    const Bytes* a = states[i];
    if (a == got || (a != nullptr && got != nullptr && *a == *got)) return true;
    if (i + 1 == states.size() || a == nullptr || got == nullptr) continue;
    const Bytes* b = states[i + 1];
    if (b == nullptr || (got->size() != a->size() && got->size() != b->size())) continue;
    bool mixed = true;
    for (size_t k = 0; k < got->size() && mixed; ++k) {
      const bool old = k < a->size() && (*a)[k] == (*got)[k];
      const bool now = k < b->size() && (*b)[k] == (*got)[k];
      mixed = old || now;
    }
    if (mixed) return true;
  }
  return false;
}

// Every path of `got` and of the states must be in one of the states.
std::string Mismatch(const std::vector<Tree>& states, const Tree& got, bool mayLack) {
  std::map<std::string, int> paths;
  for (const Tree& s : states) {
    for (const auto& [p, d] : s) paths[p] = 0;
  }
  for (const auto& [p, d] : got) paths[p] = 0;
  for (const auto& [p, unused] : paths) {
    std::vector<const Bytes*> per;
    for (const Tree& s : states) {
      auto it = s.find(p);
      per.push_back(it == s.end() ? nullptr : &it->second);
    }
    auto it = got.find(p);
    const Bytes* have = it == got.end() ? nullptr : &it->second;
    if (have == nullptr && mayLack) continue;
    if (!Allowed(per, have)) {
      return p + (have == nullptr ? " is missing" : " holds " + std::to_string(have->size()) +
                                                        " bytes that no state of it holds");
    }
  }
  return "";
}

struct Scenario {
  const char* name;
  std::function<void()> prepare;
  std::vector<Step> steps;  // the operation; the volume after each step is a state
  // Paths that may be missing right after a crash (a name between its
  // unlinking and its relinking), which the repair must bring back.
  bool mayLackUntilRepaired = false;
  // Run once without a crash: the operation did what the scenario is about.
  std::function<void()> verify = [] {};
};

class CrashTest : public test::VolumeTest {
 protected:
  // With `torn`, the write at the crash reaches the disk in its first
  // sector only: a record or index block cut that way must fail its
  // fix-ups and be reported, never read as sound.
  void Run(const Scenario& s, bool torn = false, const std::string& geometry = "") {
    FormatAndMount("--size 8M " + geometry);
    s.prepare();
    Unmount();
    base_ = test::ReadFileBytes(image_);
    std::vector<Tree> states;
    Restore();
    states.push_back(ReadTree());
    const uint64_t first = DeviceWriteCount(*device_);
    for (const Step& step : s.steps) {
      step();
      states.push_back(ReadTree());
    }
    const uint64_t writes = DeviceWriteCount(*device_) - first;
    s.verify();
    Unmount();
    for (uint64_t k = 0; k <= writes; ++k) {
      SCOPED_TRACE(std::string(s.name) + ", crash after write " + std::to_string(k) + " of " +
                   std::to_string(writes));
      const Verdict crashed = CrashAt(s, k, torn);
      if (torn) {
        CheckTorn(crashed);
      } else {
        CheckCrashed(s, crashed, states);
      }
      if (HasFailure()) return;
    }
  }

  void Restore() {
    test::WriteFileBytes(image_, base_);
    Mount(image_);
  }

  // Runs the operation on the prepared volume with the device dying at
  // write k; returns the checker's verdict on what it left.
  Verdict CrashAt(const Scenario& s, uint64_t k, bool torn) {
    Restore();
    ArmDeviceCrash(*device_, static_cast<int64_t>(k), torn ? 512 : 0);
    ::testing::internal::CaptureStderr();
    for (const Step& step : s.steps) step();
    CutPower(*device_);
    ::testing::internal::GetCapturedStderr();
    Unmount();
    return Check(image_);
  }

  void CheckCrashed(const Scenario& s, const Verdict& crashed, const std::vector<Tree>& states) {
    ASSERT_TRUE(crashed.readable && crashed.problems == 0) << crashed.text;
    Mount(image_);
    EXPECT_EQ(Mismatch(states, ReadTree(), s.mayLackUntilRepaired), "");
    TakesNewWork();
    Unmount();
    const Verdict worked = Check(image_);
    ASSERT_TRUE(worked.readable && worked.problems == 0) << worked.text;
    std::string repairText;
    const int code = Repair(image_, repairText);
    EXPECT_TRUE(code == 0 || code == 1) << "repair exit " << code << "\n" << repairText;
    const Verdict repaired = Check(image_);
    ASSERT_EQ(repaired.problems + repaired.leaks, 0u) << repaired.text << repairText;
    Mount(image_);
    Tree tree = ReadTree();
    EXPECT_EQ(tree["/1/new-work"], PatternBytes(12000, 3));
    tree.erase("/1/new-work");
    tree.erase("/1/new-dir/");
    tree.erase("/1/new-dir/inner");
    EXPECT_EQ(Mismatch(states, tree, false), "") << repairText;
    Unmount();
  }

  void CheckTorn(const Verdict& torn) {
    ASSERT_TRUE(torn.readable) << torn.text;
    std::istringstream lines(torn.text);
    for (std::string line; std::getline(lines, line);) {
      const bool leak = line.rfind("leak: ", 0) == 0;
      EXPECT_TRUE(leak || line.find("update sequence check fails") != std::string::npos) << line;
    }
    Mount(image_);
    ::testing::internal::CaptureStderr();
    ReadTree();  // reading past the torn structure fails cleanly
    ::testing::internal::GetCapturedStderr();
    Unmount();
    std::string repairText;
    const int code = Repair(image_, repairText);
    EXPECT_TRUE(code == 0 || code == 1 || code == 4) << repairText;
  }

  void TakesNewWork() {
    Write("/1/new-work", 0, PatternBytes(12000, 3));
    EXPECT_EQ(ToolkitMakeDirectory("/1/new-dir"), 0);
    Create("/1/new-dir/inner");
  }

  Bytes base_;
};

const Bytes kSmall = PatternBytes(700, 1);

void MakeDirectory(const std::string& path) { ASSERT_EQ(ToolkitMakeDirectory(path.c_str()), 0); }

// Directory /1/d holding `count` names; 35 of this length fill the top
// block, 37 split it into [name-135, end] over [name-100 .. name-134] and
// [name-136], and 72 fill that second block.
void Names(int count, const std::vector<std::string>& more = {}) {
  MakeDirectory("/1/d");
  for (int i = 0; i < count; ++i) Create("/1/d/name-" + std::to_string(100 + i));
  for (const std::string& name : more) Create("/1/d/" + name);
}

void WithExtensions() {
  FragmentNearlyFull("/1/frag");
  Write("/1/frag", SizeOf("/1/frag"), PatternBytes(32768, 9));
  ASSERT_TRUE(BaseRoom("/1/frag") == 0);
}

const Scenario kSplit{"create that splits an index block", [] { Names(35); },
                      {[] { Create("/1/d/name-200"); }}};
const Scenario kExtend{"write that needs an extension record", [] { FragmentNearlyFull("/1/frag"); },
                       {[] { Write("/1/frag", SizeOf("/1/frag"), PatternBytes(32768, 9)); }}};
const Scenario kMove{"rename across directories",
                     [] {
                       MakeDirectory("/1/from");
                       MakeDirectory("/1/to");
                       Write("/1/from/moving", 0, kSmall);
                     },
                     {[] { ToolkitRename("/1/from/moving", "/1/to/moved"); }},
                     true};

// A file made for deferred pieces (kept open for the next step): the last
// write of its creation waits for the pieces' commit.
Toolkit* g_made = nullptr;
void MakeForPieces(const std::string& path) {
  // After a crash the writes are lost and the creation may fail.
  if (ToolkitCreateFile(g_made, path.c_str(), true) != 0) g_made = nullptr;
}

// Deferred durability: the pieces' data and marks go out relaxed, the
// records only at the commit, after a barrier. A crash anywhere leaves the
// file as it was before the pieces or as after the commit. `made`: the
// pieces go to the file MakeForPieces made.
void WriteDeferred(const std::string& path, const std::vector<Bytes>& pieces, bool made = false) {
  Toolkit* t = made ? std::exchange(g_made, nullptr) : nullptr;
  if (made && t == nullptr) return;
  if (!made) {
    ASSERT_EQ(ToolkitOpen(t, path.c_str()), 0);
  }
  t->deferDurability = true;
  uint32_t at = 0, done = 0;
  FileSize(t, at);
  for (const Bytes& piece : pieces) {
    FileWrite(t, at, static_cast<uint32_t>(piece.size()), piece.data(), done);
    at += done;
  }
  FileCommit(t);
  ToolkitClose(t);
}

// A split below the top block moves its middle name up into the parent
// (one write links both halves); a name whose neighbour also leads to a
// sub-tree is replaced by its successor, named by nothing until the block
// that takes its place is written (the repair puts it back).
const Scenario kScenarios[] = {
    {"create in an empty directory", [] { MakeDirectory("/1/d"); }, {[] { Create("/1/d/new"); }}},
    {"make a directory", [] {}, {[] { ToolkitMakeDirectory("/1/made"); }}},
    kSplit,
    {"create that grows the MFT",
     [] {
       MakeDirectory("/1/d");
       UseAllRecords("/1/d");
     },
     {[] { Create("/1/grown"); }}},
    {"create that splits a block below the top", [] { Names(72); }, {[] { Create("/1/d/name-200"); }}},
    {"create that halves a block below the top", [] { Names(72, {"name-120a"}); },
     {[] { Create("/1/d/name-120x"); }}},
    {"first write of a new file", [] { Create("/1/f"); }, {[] { Write("/1/f", 0, kSmall); }}},
    {"write that moves the data out of the record", [] { Write("/1/f", 0, kSmall); },
     {[] { Write("/1/f", 700, PatternBytes(9000, 2)); }}},
    {"append", [] { Write("/1/f", 0, PatternBytes(10000, 4)); },
     {[] { Write("/1/f", 10000, PatternBytes(5000, 5)); }}},
    {"overwrite in place", [] { Write("/1/f", 0, PatternBytes(40000, 4)); },
     {[] { Write("/1/f", 1000, PatternBytes(20000, 6)); }}},
    {"truncate", [] { Write("/1/f", 0, PatternBytes(40000, 4)); }, {[] { Truncate("/1/f", 6000); }}},
    {"overwrite that truncates", [] { Write("/1/f", 0, PatternBytes(40000, 4)); },
     {[] { Truncate("/1/f", 0); }, [] { Write("/1/f", 0, PatternBytes(9000, 7)); }}},
    {kExtend.name, kExtend.prepare, kExtend.steps, false,
     [] { EXPECT_EQ(BaseRoom("/1/frag"), 0u); }},
    {"append to a file with extension records", WithExtensions,
     {[] { Write("/1/frag", SizeOf("/1/frag"), PatternBytes(20000, 10)); }}},
    {"truncate of a file with extension records", WithExtensions, {[] { Truncate("/1/frag", 5000); }}},
    {"pieces of a new file, committed once", [] { Create("/1/f"); },
     {[] { WriteDeferred("/1/f", {kSmall, PatternBytes(9000, 2), PatternBytes(30000, 3)}); }}},
    {"new file made for pieces, committed once", [] { MakeDirectory("/1/d"); },
     {[] { MakeForPieces("/1/d/f"); },
      [] { WriteDeferred("/1/d/f", {kSmall, PatternBytes(9000, 2)}, true); }}},
    {"new file made for pieces in a block that splits", [] { Names(35); },
     {[] { MakeForPieces("/1/d/name-200"); },
      [] { WriteDeferred("/1/d/name-200", {PatternBytes(5000, 3)}, true); }}},
    {"pieces appended to a file, committed once", [] { Write("/1/f", 0, PatternBytes(10000, 4)); },
     {[] { WriteDeferred("/1/f", {PatternBytes(5000, 5), PatternBytes(20000, 6)}); }}},
    {"pieces that need an extension record", [] { FragmentNearlyFull("/1/frag"); },
     {[] { WriteDeferred("/1/frag", {PatternBytes(16384, 7), PatternBytes(16384, 8)}); }},
     false,
     [] { EXPECT_EQ(BaseRoom("/1/frag"), 0u); }},
    {"rename within a directory",
     [] {
       MakeDirectory("/1/d");
       Write("/1/d/old", 0, kSmall);
       Create("/1/d/other");
     },
     {[] { ToolkitRename("/1/d/old", "/1/d/new"); }},
     true},
    kMove,
    {"remove of a file with extension records", WithExtensions, {[] { ToolkitRemove("/1/frag"); }}},
    {"move of a directory",
     [] {
       MakeDirectory("/1/a");
       MakeDirectory("/1/a/sub");
       Write("/1/a/sub/f", 0, kSmall);
       MakeDirectory("/1/b");
     },
     {[] { ToolkitRename("/1/a/sub", "/1/b/sub2"); }},
     true},
    {"remove of a directory",
     [] {
       MakeDirectory("/1/gone");
       Create("/1/gone/x");
       ToolkitRemove("/1/gone/x");
     },
     {[] { ToolkitRemove("/1/gone"); }}},
    {"remove that empties an index block", [] { Names(36); }, {[] { ToolkitRemove("/1/d/name-135"); }}},
    {"remove a name whose successor empties its block", [] { Names(37); },
     {[] { ToolkitRemove("/1/d/name-135"); }}, true},
    {"remove a name whose successor leaves a full block", [] { Names(72); },
     {[] { ToolkitRemove("/1/d/name-135"); }}, true},
};

TEST_F(CrashTest, EveryCrashLeavesOnlyLeaks) {
  for (const Scenario& s : kScenarios) Run(s);
}

// Sectors larger than records (a record is then part of one sector) and
// clusters smaller than index blocks change which writes a change takes.
TEST_F(CrashTest, OtherGeometries) {
  for (const char* geometry : {"--sector-size 4096", "--cluster-size 512"}) {
    SCOPED_TRACE(geometry);
    for (const Scenario& s : {kSplit, kExtend, kMove}) Run(s, false, geometry);
  }
}

TEST_F(CrashTest, TornWritesAreCaughtNotTrusted) {
  Run({"torn create", [] { MakeDirectory("/1/d"); }, {[] { Create("/1/d/new"); }}}, true);
  Run({"torn rename", [] { Write("/1/old", 0, kSmall); }, {[] { ToolkitRename("/1/old", "/1/new"); }}},
      true);
  Run(kExtend, true);
}

}  // namespace
}  // namespace vrax

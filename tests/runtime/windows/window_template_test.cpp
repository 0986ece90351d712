// Window templates: the stored form read and written byte for byte, every bad input refused cleanly,
// handler addresses, lookups, and the collection start-up keeps for the program.
#include "runtime/windows/window_template.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "runtime/startup.h"

namespace qv {
namespace {

// Little-endian appender for building stored data by hand, independently of the writer.
struct Bytes {
  TemplateBytes b;
  size_t Mark() const { return b.size(); }
  Bytes& I32(int64_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& I16(int v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
  }
  Bytes& Raw(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& CText(const std::string& s) { return Raw(s).Raw(std::string(1, '\0')); }
  Bytes& Blob(const TemplateBytes& data) {
    I32(static_cast<int64_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return *this;
  }
  Bytes& Counted(const std::string& s) { return I32(static_cast<int64_t>(s.size())).Raw(s); }
  void Put(size_t at, int64_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
  }
};

// Component data shaped like an edit box's: version 2, int fields, a font blob, the content text.
TemplateBytes EditBoxData(size_t fontLength, const std::string& content) {
  Bytes d;
  d.I32(2).I32(1).I32(0).I32(0xFFFFFF).I32(1).I32(2).I32(0).I32(0).I32(0).I32(3).I16('*');
  d.I32(0).I32(0).I32(0).I32(100).I32(0).I32(0);
  TemplateBytes font(fontLength, 0);
  if (fontLength >= 4) font[0] = 0xF2, font[1] = 0xFF, font[2] = 0xFF, font[3] = 0xFF;  // height -14
  d.Blob(font).Counted(content).Counted("").Counted("");
  return d.b;
}

UnitRecord Record(uint32_t type, std::string name, int32_t left, uint32_t flags) {
  UnitRecord r;
  r.typeId = type;
  r.name = std::move(name);
  r.left = left;
  r.top = left + 1;
  r.width = 96;
  r.height = 24;
  r.flags = flags;
  r.mousePointer = {0, 0, 0, 0};
  r.componentData = {1, 0, 0, 0};
  return r;
}

// Two windows with every unit kind and every field in use.
TemplateCollection SampleCollection() {
  TemplateCollection c;
  WindowTemplate& main = c.windows.emplace_back();
  main.windowId = 0x52010001;
  main.valueA = 0x009C086C;
  main.valueB = 0x19010006;
  main.text2 = "副标题";

  UnitRecord window = Record(0x00010001, "", 50, UnitRecord::kVisible);
  window.width = 442;
  window.height = 262;
  window.events = {{0, 0x120, {}}, {3, -1, {}}, {-1, 0, {}}};
  window.componentData = {6, 0, 0, 0, 2, 0, 0, 0};
  main.units.push_back({0x06010000, window});

  UnitRecord question = Record(0x00010005, "编辑框_题目", 64, UnitRecord::kVisible | UnitRecord::kTabStop);
  question.tag = "题目标记";
  question.remark = "备注";
  question.componentData = EditBoxData(60, "指令系统中采用不同寻址方式的目的是");
  main.units.push_back({0x16010002, question});

  UnitRecord frame = Record(0x0001000F, "分组框1", 8, UnitRecord::kVisible | UnitRecord::kDisabled);
  frame.childIds = {0x16010004, 0x16010006};
  frame.mousePointer = {0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0x00, 0x01, 0x02, 0x03};  // custom pointer data
  frame.tabOrder = 3;
  frame.reservedA = {1, 2, 3, 4, 5};
  frame.reservedB = -7;
  frame.reservedC = {-1, -2, -3, -4, -5};
  main.units.push_back({0x16010003, frame});

  UnitRecord inner = Record(0x00010005, "编辑框_内", 4, 0);
  inner.containerId = 0x16010003;
  inner.events = {{-2, 0x40, {}}, {0, -1, {}}, {1, 0x7FFFFFF0, {}}};
  inner.componentData = EditBoxData(59, "");
  inner.mousePointer = {2};  // one byte: the cross
  main.units.push_back({0x16010004, inner});

  main.units.push_back({0x26010005, RawUnitRecord{{'F', 'i', 'l', 'e', 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}}});

  UnitRecord bare = Record(0x0001000A, "标签1", 8, UnitRecord::kVisible);
  bare.containerId = 0x16010003;
  bare.mousePointer.clear();
  bare.componentData.clear();
  main.units.push_back({0x16010006, bare});

  main.units.push_back({0x36010007, RawUnitRecord{{9}}});  // a kind this runtime does not know

  WindowTemplate& second = c.windows.emplace_back();
  second.windowId = 0x52010002;
  second.text1 = "窗口二";
  second.units.push_back({0x06010000, Record(0x00010001, "", 0, 0)});
  return c;
}

TemplateBytes Written(const TemplateCollection& c) {
  std::optional<TemplateBytes> bytes = WriteTemplateCollection(c);
  EXPECT_TRUE(bytes.has_value());
  return bytes.value_or(TemplateBytes{});
}

// Reads from an exactly sized heap copy, so any read past the end is caught by the address sanitizer.
std::optional<TemplateCollection> ReadCopy(const TemplateBytes& data, size_t length,
                                           TemplateReadFailure* failure = nullptr) {
  const TemplateBytes copy(data.begin(), data.begin() + static_cast<ptrdiff_t>(length));
  return ReadTemplateCollection(copy.data(), copy.size(), failure);
}

TEST(WindowTemplateFormat, RoundTripKeepsEveryFieldAndEveryByte) {
  const TemplateCollection sample = SampleCollection();
  const TemplateBytes bytes = Written(sample);
  std::optional<TemplateCollection> read = ReadTemplateCollection(bytes);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, sample);
  EXPECT_EQ(Written(*read), bytes);

  const UnitRecord* question = read->windows[0].units[1].Record();
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(qvtest::Gbk(question->name), qvtest::Gbk("编辑框_题目"));
  EXPECT_EQ(qvtest::Gbk(question->tag), qvtest::Gbk("题目标记"));
  EXPECT_EQ(read->windows[0].units[4].Kind(), UnitKind::MenuItem);
  EXPECT_EQ(read->windows[0].units[4].Record(), nullptr);
}

// The stored layout built field by field, so reader and writer cannot agree on a wrong order.
TEST(WindowTemplateFormat, ReadsHandBuiltLayoutAndWritesItBack) {
  Bytes record;
  record.I32(0x0001000B).I32(0).I32(0).I32(0).I32(0).I32(0).CText("按钮_查询").CText("");
  record.I32(0).I32(248).I32(120).I32(176).I32(56).I32(0).I32(0);
  record.I32(1).I32(0x16010009);
  record.Blob({0, 0, 0, 0}).CText("").I32(0).I32(5).I32(0);
  record.I32(1).I32(0).I32(0x3C);
  record.I32(0).I32(0).I32(0).I32(0).I32(0);
  record.I32(1).I32(0).I32(1);
  Bytes block;
  block.I32(0x16010005).I32(0).Blob(record.b);
  Bytes all;
  all.Blob({1, 0, 0x01, 0x52, 0, 0, 0, 0});
  all.I32(0x009C086C).I32(0x19010006).Counted("").Counted("").I32(1).Blob(block.b);

  std::optional<TemplateCollection> read = ReadTemplateCollection(all.b);
  ASSERT_TRUE(read.has_value());
  ASSERT_EQ(read->windows.size(), 1u);
  const WindowTemplate& t = read->windows[0];
  EXPECT_EQ(t.windowId, 0x52010001u);
  EXPECT_EQ(t.valueA, 0x009C086C);
  ASSERT_EQ(t.units.size(), 1u);
  const UnitRecord* r = t.units[0].Record();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->typeId, 0x0001000Bu);
  EXPECT_EQ(qvtest::Gbk(r->name), qvtest::Gbk("按钮_查询"));
  EXPECT_EQ((std::array{r->left, r->top, r->width, r->height}), (std::array{248, 120, 176, 56}));
  EXPECT_EQ(r->childIds, std::vector<uint32_t>{0x16010009});
  EXPECT_TRUE(r->Visible());
  EXPECT_FALSE(r->Disabled());
  EXPECT_TRUE(r->TabStop());
  ASSERT_EQ(r->events.size(), 1u);
  EXPECT_EQ(r->events[0].handlerOffset, 0x3C);
  EXPECT_EQ(r->ComponentDataVersion(), 1);
  EXPECT_EQ(Written(*read), all.b);
}

TEST(WindowTemplateFormat, EmptyWindowIndexHoldsNoWindows) {
  const TemplateBytes empty = {0, 0, 0, 0};
  std::optional<TemplateCollection> read = ReadTemplateCollection(empty);
  ASSERT_TRUE(read.has_value());
  EXPECT_TRUE(read->windows.empty());
  EXPECT_EQ(Written(*read), empty);
}

TEST(WindowTemplateFormat, EveryTruncationFailsCleanly) {
  const TemplateBytes bytes = Written(SampleCollection());
  for (size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(ReadCopy(bytes, n).has_value()) << "length " << n;
}

// Any four bytes set to a hostile value either make the read fail or give a collection that
// survives its own round trip.
TEST(WindowTemplateFormat, CorruptedInt32FieldsFailOrReadConsistently) {
  const TemplateBytes original = Written(SampleCollection());
  const int64_t values[] = {0x7FFFFFFF, INT32_MIN, -1, -2, static_cast<int64_t>(original.size()), 0x40000000};
  size_t accepted = 0;
  for (size_t at = 0; at + 4 <= original.size(); ++at)
    for (int64_t v : values) {
      Bytes corrupt{original};
      corrupt.Put(at, v);
      std::optional<TemplateCollection> read = ReadCopy(corrupt.b, corrupt.b.size());
      if (!read) continue;
      ++accepted;
      std::optional<TemplateBytes> again = WriteTemplateCollection(*read);
      ASSERT_TRUE(again.has_value()) << "offset " << at << " value " << v;
      EXPECT_EQ(ReadTemplateCollection(*again), read) << "offset " << at << " value " << v;
    }
  EXPECT_GT(accepted, 0u);  // fields such as positions and flags take any value
}

// Each inconsistency is named, at the offset of the field that causes it.
TEST(WindowTemplateFormat, InconsistentDataNamesTheFault) {
  Bytes base;
  base.Blob({1, 0, 0, 0, 0, 0, 0, 0});
  base.I32(0).I32(0).Counted("").Counted("");
  const size_t unitCountAt = base.Mark();
  base.I32(1).I32(0);  // unit count, block length patched below
  const size_t blockAt = base.Mark();
  base.I32(0x16010001);
  const size_t offsetAt = base.Mark();
  base.I32(0);
  const size_t sizeAt = base.Mark();
  base.I32(0);  // record size, patched below
  const size_t recordAt = base.Mark();
  base.I32(5).I32(0).I32(0).I32(0).I32(0).I32(0).CText("名").CText("");
  base.I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).I32(0);
  const size_t childCountAt = base.Mark();
  base.I32(0).Blob({}).CText("").I32(0).I32(0).I32(0);
  const size_t eventCountAt = base.Mark();
  base.I32(0).I32(0).I32(0).I32(0).I32(0).I32(0);
  base.Put(blockAt - 4, static_cast<int64_t>(base.Mark() - blockAt));
  base.Put(sizeAt, static_cast<int64_t>(base.Mark() - recordAt));
  ASSERT_TRUE(ReadTemplateCollection(base.b).has_value());

  struct Case {
    const char* what;
    size_t at;
    int64_t value;
    TemplateError error;
    size_t errorAt;
  };
  const Case cases[] = {
      {"index not a multiple of 8", 0, 4, TemplateError::BadWindowIndex, 0},
      {"index longer than the data", 0, 0x7FFFFFF8, TemplateError::Truncated, 0},
      {"negative index length", 0, -8, TemplateError::NegativeLength, 0},
      {"negative unit count", unitCountAt, -1, TemplateError::NegativeLength, unitCountAt},
      {"more units than the block holds", unitCountAt, 0x10000000, TemplateError::Truncated, blockAt},
      {"negative record offset", offsetAt, -4, TemplateError::BadRecordOffset, offsetAt},
      {"record offset past the block", offsetAt, 0x1000, TemplateError::BadRecordOffset, offsetAt},
      {"record size past the block", sizeAt, 0x1000, TemplateError::Truncated, sizeAt},
      {"negative record size", sizeAt, -1, TemplateError::NegativeLength, sizeAt},
      {"record cut inside the name", sizeAt, 25, TemplateError::MissingTerminator, recordAt + 24},
      {"huge child count", childCountAt, 0x40000000, TemplateError::Truncated, childCountAt},
      {"negative event count", eventCountAt, INT32_MIN, TemplateError::NegativeLength, eventCountAt},
  };
  for (const Case& c : cases) {
    Bytes corrupt{base.b};
    corrupt.Put(c.at, c.value);
    TemplateReadFailure failure;
    EXPECT_FALSE(ReadCopy(corrupt.b, corrupt.b.size(), &failure).has_value()) << c.what;
    EXPECT_EQ(failure.error, c.error) << c.what;
    EXPECT_EQ(failure.offset, c.errorAt) << c.what;
  }

  Bytes trailing{base.b};
  trailing.b.push_back(0);
  TemplateReadFailure failure;
  EXPECT_FALSE(ReadTemplateCollection(trailing.b, &failure).has_value());
  EXPECT_EQ(failure.error, TemplateError::TrailingBytes);
  EXPECT_EQ(failure.offset, base.b.size());
}

// Records may be stored in any order, but two records sharing bytes are refused.
TEST(WindowTemplateFormat, RecordsAreFoundByOffsetAndMustNotOverlap) {
  const TemplateCollection sample = SampleCollection();
  const WindowTemplate& main = sample.windows[0];
  const TemplateBytes bytes = Written(sample);
  // Index (length, 2 ids, 2 placeholders), values A and B, both texts, unit count, block length, ids.
  const size_t offsetsAt = 4 + 16 + 8 + 4 + main.text1.size() + 4 + main.text2.size() + 8 + 4 * main.units.size();
  const auto offsetOf = [&](size_t i) {
    const uint8_t* p = bytes.data() + offsetsAt + 4 * i;
    return static_cast<int64_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
  };
  ASSERT_EQ(offsetOf(0), 0);

  // The offsets of units 1 and 2 exchanged, with their ids and records following them.
  Bytes swapped{bytes};
  swapped.Put(offsetsAt + 4, offsetOf(2));
  swapped.Put(offsetsAt + 8, offsetOf(1));
  swapped.Put(offsetsAt - 4 * main.units.size() + 4, main.units[2].id);
  swapped.Put(offsetsAt - 4 * main.units.size() + 8, main.units[1].id);
  std::optional<TemplateCollection> read = ReadTemplateCollection(swapped.b);
  ASSERT_TRUE(read.has_value());
  std::swap(read->windows[0].units[1], read->windows[0].units[2]);
  EXPECT_EQ(*read, sample);

  const size_t recordsAt = offsetsAt + 4 * main.units.size();
  const auto overlapFails = [&](size_t at, int64_t value, const char* what) {
    Bytes overlap{bytes};
    overlap.Put(at, value);
    TemplateReadFailure failure;
    EXPECT_FALSE(ReadCopy(overlap.b, overlap.b.size(), &failure).has_value()) << what;
    EXPECT_EQ(failure.error, TemplateError::OverlappingRecords) << what;
  };
  overlapFails(offsetsAt + 12, 0, "unit 3 at unit 0's place");
  overlapFails(offsetsAt + 12, offsetOf(1), "unit 3 at unit 1's place");
  const size_t unit2SizeAt = recordsAt + static_cast<size_t>(offsetOf(2));
  overlapFails(unit2SizeAt, offsetOf(3) - offsetOf(2) - 4 + 1, "unit 2 one byte into unit 3");
}

TEST(WindowTemplateFormat, PlaceholdersAndLiveSlotsAreNeitherKeptNorWritten) {
  TemplateCollection live = SampleCollection();
  const TemplateBytes canonical = Written(live);
  int object = 0;
  live.windows[0].units[1].Record()->liveWindow = &object;
  live.windows[0].units[1].Record()->liveCursor = &object;
  EXPECT_EQ(Written(live), canonical);

  Bytes stored{canonical};
  stored.Put(4 + 8, 0x12345678);  // the first window's placeholder, as the writing tool leaves it
  EXPECT_EQ(ReadTemplateCollection(stored.b), SampleCollection());
}

TEST(WindowTemplateFormat, WriterRefusesWhatCannotBeReadBack) {
  TemplateCollection nulInName = SampleCollection();
  nulInName.windows[0].units[1].Record()->name = std::string("a\0b", 3);
  EXPECT_FALSE(WriteTemplateCollection(nulInName).has_value());

  TemplateCollection rawComponent = SampleCollection();
  rawComponent.windows[0].units[1].content = RawUnitRecord{{1, 2, 3}};
  EXPECT_FALSE(WriteTemplateCollection(rawComponent).has_value());

  TemplateCollection recordMenu = SampleCollection();
  recordMenu.windows[0].units[4].content = UnitRecord{};
  EXPECT_FALSE(WriteTemplateCollection(recordMenu).has_value());
}

TEST(WindowTemplateHandlers, OffsetsBecomeAddressesAndMinusOneStaysUnbound) {
  TemplateCollection c = SampleCollection();
  static const char code[0x200] = {};
  ResolveHandlers(c, code);
  const auto at = [](const char* p) { return static_cast<HandlerAddress>(p); };
  const std::vector<UnitEvent>& windowEvents = c.windows[0].units[0].Record()->events;
  EXPECT_EQ(windowEvents[0].handler, at(code + 0x120));
  EXPECT_FALSE(windowEvents[1].handler.has_value());
  EXPECT_EQ(windowEvents[2].handler, at(code));  // offset 0 is the code base itself, still a handler
  const UnitRecord* inner = c.windows[0].units[3].Record();
  EXPECT_EQ(inner->FindEvent(-2)->handler, at(code + 0x40));
  EXPECT_FALSE(inner->FindEvent(0)->handler.has_value());
  EXPECT_EQ(inner->FindEvent(7), nullptr);
}

TEST(WindowTemplateLookup, WindowsUnitsAndRecordAccessors) {
  TemplateCollection c = SampleCollection();
  ASSERT_NE(c.Find(0x52010002), nullptr);
  EXPECT_EQ(c.Find(0x52010002)->text1, "窗口二");
  EXPECT_EQ(c.Find(0x52010003), nullptr);

  WindowTemplate& main = *c.Find(0x52010001);
  EXPECT_EQ(main.UnitAt(6)->id, 0x36010007u);
  EXPECT_EQ(main.UnitAt(7), nullptr);
  EXPECT_EQ(main.FindUnit(0x16010004), main.UnitAt(3));
  EXPECT_EQ(main.FindUnit(0x16019999), nullptr);

  const UnitRecord& frame = *main.UnitAt(2)->Record();
  const UnitRecord& inner = *main.UnitAt(3)->Record();
  const UnitRecord& bare = *main.UnitAt(5)->Record();
  EXPECT_EQ(frame.MousePointerNumber(), -1);
  EXPECT_EQ(inner.MousePointerNumber(), 2);
  EXPECT_EQ(bare.MousePointerNumber(), 0);
  EXPECT_EQ(inner.ComponentDataVersion(), 2);
  EXPECT_EQ(bare.ComponentDataVersion(), std::nullopt);
  EXPECT_TRUE(frame.Disabled());
  EXPECT_FALSE(frame.TabStop());
  EXPECT_FALSE(inner.Visible());

  EXPECT_EQ(UnitKindOf(0x06010000), UnitKind::Window);
  EXPECT_EQ(UnitKindOf(0x16010002), UnitKind::Component);
  EXPECT_EQ(UnitKindOf(0x26010005), UnitKind::MenuItem);
  EXPECT_EQ(UnitKindOf(0xF6010005), UnitKind::Unknown);

  // A unit record as stored: the 59-byte font blob lies inside the component data untouched.
  std::optional<TemplateBytes> stored = WriteUnitRecord(*main.UnitAt(3));
  ASSERT_TRUE(stored.has_value());
  ASSERT_GE(stored->size(), inner.componentData.size());
  EXPECT_TRUE(std::equal(inner.componentData.begin(), inner.componentData.end(),
                         stored->end() - static_cast<ptrdiff_t>(inner.componentData.size())));
}

ProgramDescription DescriptionWithTemplates(const TemplateBytes& data, const void* codeBase) {
  return {.formatValue = 3, .buildValue = 1, .codeBase = codeBase, .windowTemplates = data.data(),
          .windowTemplateLength = static_cast<int32_t>(data.size())};
}

TEST(WindowTemplateStartupDeathTest, UnreadableTemplateDataIsARuntimeError) {
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        TemplateBytes cut = Written(SampleCollection());
        cut.pop_back();
        InitialiseRuntime(DescriptionWithTemplates(cut, nullptr));
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：载入窗口模板数据段出错!"));
}

TEST(WindowTemplateStartupDeathTest, NegativeTemplateLengthIsARuntimeError) {
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        const TemplateBytes data = Written(SampleCollection());
        ProgramDescription d = DescriptionWithTemplates(data, nullptr);
        d.windowTemplateLength = -4;
        InitialiseRuntime(d);
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：载入窗口模板数据段出错!"));
}

TEST(WindowTemplateStartupDeathTest, StartupKeepsTheCollectionUntilShutdown) {
  EXPECT_EXIT(
      {
        static const char code[0x200] = {};
        const TemplateBytes data = Written(SampleCollection());
        InitialiseRuntime(DescriptionWithTemplates(data, code));
        const TemplateCollection& kept = ProgramTemplates();
        const UnitEvent& click = kept.windows[0].units[0].Record()->events[0];
        const bool ok = kept.windows.size() == 2 && kept.Find(0x52010002) != nullptr &&
                        click.handler == static_cast<HandlerAddress>(code + 0x120);
        std::fprintf(stderr, "read %s\n", ok ? "ok" : "wrong");
        ShutdownRuntime(0);
        std::fprintf(stderr, "after shutdown %zu\n", ProgramTemplates().windows.size());
        win::ExitProcess(0);
      },
      testing::ExitedWithCode(0), "read ok\nafter shutdown 0\n");
}

}  // namespace
}  // namespace qv

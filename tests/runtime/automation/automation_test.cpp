// The automation commands through CallCommand on a probe object: failure codes and empty results,
// left-out arguments, puts, the argument table, output parameters written back into variables,
// holders and their release, and variants over arrays.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/gbk_print.h"
#include "runtime/automation/automation.h"
#include "runtime/automation/automation_front.h"
#include "runtime/commands/commands.h"
#include "runtime/commands/dispatch.h"
#include "runtime/automation/holders.h"
#include "runtime/memory/memory.h"
#include "tests/runtime/automation/automation_test_objects.h"

namespace qv {
namespace {

using qvtest::Gbk;
using qvtest::Probe;
using namespace win;

RuntimeValue Execute(Command c, std::vector<RuntimeValue> slots) {
  return CallCommand(c, static_cast<int32_t>(slots.size()), slots.data());
}
RuntimeValue Holder(const void* holder) { return RuntimeValue::OfPointer(type::Object, holder); }
RuntimeValue Variant(const void* holder) { return RuntimeValue::OfPointer(type::Variant, holder); }
RuntimeValue Address(TypeCode t, void* variable) { return RuntimeValue::OfPointer(t | AddressFlag, variable); }
std::string Text(const RuntimeValue& r) { return OwnedText::Adopt(static_cast<char*>(r.Pointer())).c_str(); }
std::u16string Wide(const VARIANT& v) { return v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u""; }

class Automation : public testing::Test {
 protected:
  void SetUp() override { RegisterAutomationCommands(); }
  void TearDown() override {
    FreeObjectHolder(holder);
    probe.Reset();
    EXPECT_EQ(Probe::alive, 0) << "an object reference was leaked";
    SetObjectHolderReleaser(nullptr);  // other tests call the release service without the hook
  }
  RuntimeValue Member(Command c, const char* name, std::vector<RuntimeValue> arguments = {}) {
    arguments.insert(arguments.begin(), {Holder(holder), cmd::TextValue(name)});
    return Execute(c, arguments);
  }

  ComPtr<Probe> probe = MakeDispatchObject<Probe>();
  ObjectHolder* holder = NewObjectHolder(probe.get());
};

TEST_F(Automation, EmptyObjectGivesTheEmptyValueOfEachResultKind) {
  const struct {
    Command command;
    TypeCode type;
  } kCases[] = {{Command::ObjectGetText, type::Text},     {Command::ObjectGetNumber, type::Double},
                {Command::ObjectGetObject, type::Object}, {Command::ObjectGetVariant, type::Variant},
                {Command::ObjectCall, type::None},        {Command::ObjectCallBool, type::Bool},
                {Command::ObjectCallObject, type::Object}, {Command::ObjectSetProperty, type::None}};
  ObjectHolder* empty = NewObjectHolder();
  for (const void* object : {static_cast<const void*>(empty), static_cast<const void*>(nullptr)}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(static_cast<int>(c.command));
      const RuntimeValue r = Execute(c.command, {Holder(object), cmd::TextValue("Value")});
      EXPECT_EQ(AutomationError(), automation_error::EmptyObject);
      EXPECT_EQ(r.type, c.type);
      if (c.type == type::Object || c.type == type::Variant) {
        // A fresh holder with nothing in it.
        ASSERT_NE(r.Pointer(), nullptr);
        const unsigned char zero[sizeof(VariantHolder)] = {};
        EXPECT_EQ(std::memcmp(r.Pointer(), zero, c.type == type::Object ? sizeof(ObjectHolder) : sizeof zero), 0);
        if (c.type == type::Object) FreeObjectHolder(static_cast<ObjectHolder*>(r.Pointer()));
        else FreeVariantHolder(static_cast<VariantHolder*>(r.Pointer()));
      } else {
        EXPECT_EQ(r.low | r.high, 0u);
      }
    }
  }
  FreeObjectHolder(empty);
}

TEST_F(Automation, FailuresSetTheirCodeAndGiveTheEmptyResult) {
  qvtest::PlainUnknown plain;
  ObjectHolder* plainHolder = NewObjectHolder(&plain);
  ObjectHolder* withheld = NewObjectHolder(MakeDispatchObject<Probe>(TypeInfoAccess::Withhold).get());
  char* letters = NewText("abc");
  const struct {
    const char* label;
    ObjectHolder* object;
    Command command;
    const char* name;
    std::vector<RuntimeValue> arguments;
    int32_t error;
  } kCases[] = {
      {"no IDispatch", plainHolder, Command::ObjectGetText, "Value", {}, automation_error::NoDispatch},
      {"no type information", withheld, Command::ObjectGetText, "Value", {}, automation_error::NoTypeInformation},
      {"unknown name", holder, Command::ObjectGetText, "Valu", {}, automation_error::MemberNotFound},
      {"GBK name", holder, Command::ObjectSetProperty, "值", {cmd::IntValue(1)}, automation_error::MemberNotFound},
      {"no name", holder, Command::ObjectGetText, "", {}, automation_error::MemberNotFound},
      {"argument to a property", holder, Command::ObjectGetText, "Value", {cmd::IntValue(1)},
       automation_error::TooManyArguments},
      {"four for three", holder, Command::ObjectCall, "Take",
       {cmd::IntValue(1), cmd::IntValue(2), cmd::IntValue(3), cmd::IntValue(4)}, automation_error::TooManyArguments},
      {"byte set", holder, Command::ObjectCall, "Take", {cmd::ByteSetValue({})}, automation_error::BadArgumentType},
      {"library type, no object", holder, Command::ObjectCall, "Take", {RuntimeValue::Of(0x00020030, 1)},
       automation_error::BadArgumentType},
      {"server exception", holder, Command::ObjectCall, "Fail", {}, automation_error::Exception},
      {"argument missing", holder, Command::ObjectCall, "Rename", {}, automation_error::BadParamCount},
      {"put without value", holder, Command::ObjectSetProperty, "Value", {}, automation_error::BadParamCount},
      // A text cannot become the by-reference Int, so it goes by value and the server refuses it.
      {"wrong type by reference", holder, Command::ObjectCall, "Increment", {Address(type::Text, &letters)},
       automation_error::TypeMismatch},
      {"result not a number", holder, Command::ObjectCallNumber, "Plain", {}, automation_error::ResultConversion},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::vector<RuntimeValue> slots = {Holder(c.object), cmd::TextValue(c.name)};
    slots.insert(slots.end(), c.arguments.begin(), c.arguments.end());
    const RuntimeValue r = Execute(c.command, slots);
    EXPECT_EQ(AutomationError(), c.error);
    EXPECT_EQ(r.low | r.high, 0u);
  }
  EXPECT_EQ(probe->value->lVal, 3) << "failed calls leave the object alone";
  EXPECT_EQ(Gbk(letters), Gbk("abc"));
  RuntimeFree(letters);
  FreeObjectHolder(plainHolder);
  FreeObjectHolder(withheld);
  EXPECT_EQ(plain.refs, 1u);
}

TEST_F(Automation, ResultsAndLeftOutArguments) {
  // Value holds the number 3; names bind in any letter case.
  EXPECT_EQ(Text(Member(Command::ObjectGetText, "vALUE")), "3");
  EXPECT_EQ(AutomationError(), 0);
  EXPECT_EQ(probe->seen.flags, DISPATCH_PROPERTYGET);
  EXPECT_EQ(Member(Command::ObjectCallBool, "Value").low, 1u);
  EXPECT_EQ(Text(Member(Command::ObjectCallText, "Plain")), "plain");
  probe->value = OwnedVariant::FromText(u"");
  EXPECT_EQ(Member(Command::ObjectGetText, "Value").Pointer(), nullptr) << "the empty text is null";
  const RuntimeValue r = Member(Command::ObjectGetObject, "Plain");
  EXPECT_EQ(AutomationError(), automation_error::ResultConversion);
  EXPECT_EQ(static_cast<ObjectHolder*>(r.Pointer())->object, nullptr);
  FreeObjectHolder(static_cast<ObjectHolder*>(r.Pointer()));

  // A left-out argument before a given one is VT_ERROR / DISP_E_PARAMNOTFOUND, last argument first.
  EXPECT_EQ(Member(Command::ObjectCallNumber, "Take", {cmd::IntValue(1), cmd::Omitted(), cmd::IntValue(3)}).Double(),
            2.0);
  ASSERT_EQ(probe->seen.types, (std::vector<VARTYPE>{VT_I4, VT_ERROR, VT_I4}));
  EXPECT_EQ(probe->seen.values[0]->get()->lVal, 3);
  EXPECT_EQ(probe->seen.values[1]->get()->scode, DISP_E_PARAMNOTFOUND);
  // Trailing ones are not passed at all.
  EXPECT_EQ(Member(Command::ObjectCallNumber, "Take", {cmd::IntValue(1), cmd::Omitted(), cmd::Omitted()}).Double(),
            1.0);
  EXPECT_EQ(probe->seen.types.size(), 1u);

  // A variable argument list takes the extra arguments, objects as their IDispatch.
  EXPECT_EQ(Member(Command::ObjectCallNumber, "Sum", {cmd::DoubleValue(1), cmd::IntValue(2), cmd::TextValue("3.5")})
                .Double(),
            6.5);
  ObjectHolder* other = NewObjectHolder(MakeDispatchObject<Probe>().get());
  Member(Command::ObjectCallNumber, "Sum", {cmd::DoubleValue(1), Holder(other)});
  ASSERT_EQ(probe->seen.types.size(), 2u);
  EXPECT_EQ(probe->seen.types[0], VT_DISPATCH);
  probe->seen = {};
  FreeObjectHolder(other);
}

TEST_F(Automation, SetPropertyPassesTheValueAsTheNamedPutArgument) {
  EXPECT_EQ(Member(Command::ObjectSetProperty, "Value", {cmd::BoolValue(true)}).low, 1u);
  EXPECT_EQ(AutomationError(), 0);
  EXPECT_EQ(probe->seen.flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(probe->seen.named, std::vector<DISPID>{DISPID_PROPERTYPUT});
  ASSERT_EQ(probe->seen.types, std::vector<VARTYPE>{VT_BOOL});
  EXPECT_EQ(probe->value->boolVal, VARIANT_TRUE);

  Member(Command::ObjectSetProperty, "Plain", {cmd::TextValue("x")});  // a plain property
  EXPECT_EQ(probe->seen.flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(Wide(*probe->value.get()), u"x");

  ObjectHolder* other = NewObjectHolder(MakeDispatchObject<Probe>().get());
  EXPECT_EQ(Member(Command::ObjectSetProperty, "Target", {Holder(other)}).low, 1u);
  EXPECT_EQ(probe->seen.flags, DISPATCH_PROPERTYPUTREF);
  EXPECT_EQ(static_cast<IUnknown*>(probe->target.get()), other->object);
  probe->target.Reset();
  probe->seen = {};
  FreeObjectHolder(other);
}

TEST_F(Automation, EachRuntimeTypeBecomesItsVariantType) {
  VariantHolder* variant = NewVariantHolder();
  variant->value = OwnedVariant::FromText(u"held").Release();
  RuntimeValue int64 = cmd::Int64Value(0x100000005LL);
  qvtest::CountingRecordInfo info;
  ObjectHolder record{&info, new int(5)};
  const struct {
    const char* label;
    RuntimeValue value;
    VARTYPE vt;
    std::u16string text;  // what the server saw, as text
  } kCases[] = {
      {"Byte", RuntimeValue::Of(type::Byte, 200), VT_UI1, u"200"},
      {"Short", RuntimeValue::Of(type::Short, -2), VT_I2, u"-2"},
      {"Int", cmd::IntValue(-7), VT_I4, u"-7"},
      {"Int64, low word", int64, VT_I4, u"5"},
      {"Float", cmd::FloatValue(1.5f), VT_R4, u"1.5"},
      {"Double", cmd::DoubleValue(2.25), VT_R8, u"2.25"},
      {"DateTime", cmd::DateTimeValue(2.5), VT_DATE, u"1900/1/1 12:00:00"},
      {"Bool stored as 2", RuntimeValue::Of(type::Bool, 2), VT_BOOL, u"-1"},
      {"Text", cmd::TextValue("答案"), VT_BSTR, u"答案"},
      {"Variant", Variant(variant), VT_BSTR, u"held"},
      // Take's parameters are VARIANTs: an object goes as its IDispatch, a record as a copy.
      {"Object", Holder(holder), VT_DISPATCH, u""},
      {"record", Holder(&record), VT_RECORD, u""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Member(Command::ObjectCall, "Take", {c.value});
    EXPECT_EQ(AutomationError(), 0);
    ASSERT_EQ(probe->seen.types, std::vector<VARTYPE>{c.vt});
    if (c.text.empty()) continue;
    OwnedVariant text;
    ASSERT_EQ(VariantChangeType(text.get(), probe->seen.values[0]->get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(Wide(*text.get()), c.text);
  }
  probe->seen = {};
  EXPECT_EQ(info.copies, info.destroyed) << "the record's copies are gone, the record stays";
  EXPECT_EQ(*static_cast<int*>(record.record), 5);
  info.AddRef();
  ReleaseObjectHolderContent(&record);  // the record info destroys the record and is released
  EXPECT_EQ(info.refs, 1u);
  EXPECT_EQ(record.record, nullptr);
  FreeVariantHolder(variant);

  // A parameter that takes no object gets an empty VT_UNKNOWN.
  Member(Command::ObjectCallNumber, "Sum", {Holder(holder)});
  EXPECT_EQ(AutomationError(), automation_error::TypeMismatch);
  EXPECT_EQ(probe->seen.types, std::vector<VARTYPE>{VT_UNKNOWN});
}

TEST_F(Automation, OutputParametersAreWrittenBackIntoVariables) {
  char* text = NewText("旧");
  Member(Command::ObjectCall, "Rename", {Address(type::Text, &text)});
  EXPECT_EQ(probe->seen.types, std::vector<VARTYPE>{VT_BYREF | VT_BSTR});
  EXPECT_EQ(Gbk(text), Gbk("旧!"));  // the old block is freed (the sanitizer build checks)
  RuntimeFree(text);
  int32_t n = 41;
  double d = 6;  // goes to the Int parameter converted, and comes back
  Member(Command::ObjectCall, "Increment", {Address(type::Int, &n)});
  Member(Command::ObjectCall, "Increment", {Address(type::Double, &d)});
  EXPECT_EQ(n, 42);
  EXPECT_EQ(d, 7.0);

  // An object variable keeps its holder, whose old object is released.
  ObjectHolder* object = NewObjectHolder(MakeDispatchObject<Probe>().get());
  ObjectHolder* const before = object;
  Member(Command::ObjectCall, "Replace", {Address(type::Object, &object)});
  probe->seen = {};  // its copy of the argument
  EXPECT_EQ(object, before);
  EXPECT_EQ(Probe::alive, 2);
  FreeObjectHolder(object);

  VariantHolder* variant = NewVariantHolder();
  variant->value = OwnedVariant::FromText(u"before").Release();
  Member(Command::ObjectCall, "Fill", {Address(type::Variant, &variant)});
  EXPECT_EQ(probe->seen.types, std::vector<VARTYPE>{VT_BYREF | VT_VARIANT});
  EXPECT_EQ(Wide(variant->value), u"filled");
  FreeVariantHolder(variant);

  // Not an output parameter, or not a variable: nothing comes back.
  n = 5;
  Member(Command::ObjectCall, "Peek", {Address(type::Int, &n)});
  EXPECT_EQ(probe->seen.types, std::vector<VARTYPE>{VT_BYREF | VT_I4});
  std::vector<RuntimeValue> slots = {Holder(holder), cmd::TextValue("Increment"), cmd::IntValue(9)};
  Execute(Command::ObjectCall, slots);
  EXPECT_EQ(AutomationError(), 0);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(slots[2].Int32(), 9);
}

// A service entry that reports one library-defined type as an automation object type.
intptr_t ServiceWithLibraryObject(int32_t code, intptr_t argument1, intptr_t argument2) {
  if (code == service::DescribeType) return argument1 == 0x00020030 ? 1 : 0;
  return RuntimeService(code, argument1, argument2);
}

TEST_F(Automation, LibraryTypesThatTheRuntimeCallsObjectsAreObjects) {
  CoreCommandLibrary().notification(notify::Initialise, reinterpret_cast<intptr_t>(&ServiceWithLibraryObject), 0);
  ObjectHolder* object = NewObjectHolder(probe.get());
  Member(Command::ObjectCall, "Replace", {Address(0x00020030, &object)});
  CoreCommandLibrary().notification(notify::ShutDown, 0, 0);
  EXPECT_EQ(AutomationError(), 0);
  EXPECT_NE(object->object, holder->object);
  probe->seen = {};
  FreeObjectHolder(object);
}

TEST_F(Automation, HolderCommandsAndTheReleaseService) {
  // ObjectAssign overwrites a fresh, uninitialised holder without releasing what seems to be in it.
  auto* target = static_cast<ObjectHolder*>(RuntimeAlloc(sizeof(ObjectHolder)));
  std::memset(target, 0xAB, sizeof *target);
  Execute(Command::ObjectAssign, {Holder(target), Holder(holder)});
  EXPECT_EQ(target->object, holder->object);
  EXPECT_EQ(target->record, nullptr);
  EXPECT_EQ(Execute(Command::ObjectIsEmpty, {Holder(target)}).low, 0u);
  Execute(Command::ObjectRelease, {Holder(target)});
  EXPECT_EQ(Execute(Command::ObjectIsEmpty, {Holder(target)}).low, 1u);
  EXPECT_EQ(Execute(Command::ObjectIsEmpty, {Holder(nullptr)}).low, 1u);
  // The release service frees the holder and its reference.
  Execute(Command::ObjectAssign, {Holder(target), Holder(holder)});
  RuntimeService(service::ReleaseObjectHolder, reinterpret_cast<intptr_t>(target), 0);
  EXPECT_EQ(probe->AddRef(), 3u);  // ours and the fixture holder's
  probe->Release();
  ObjectHolder loose{nullptr, RuntimeAlloc(16)};  // record data without an interface is a block
  ReleaseObjectHolderContent(&loose);
  EXPECT_EQ(loose.record, nullptr);

  // VariantAssign copies into a fresh variant; VariantReset clears and zeroes.
  VariantHolder* source = NewVariantHolder();
  source->value = OwnedVariant::FromText(u"text").Release();
  auto* copy = static_cast<VariantHolder*>(RuntimeAlloc(sizeof(VariantHolder)));
  std::memset(copy, 0xCD, sizeof *copy);
  Execute(Command::VariantAssign, {Variant(copy), Variant(source)});
  Execute(Command::VariantAssign, {Variant(copy), Variant(copy)});  // onto itself: kept
  EXPECT_EQ(Wide(copy->value), u"text");
  EXPECT_NE(copy->value.bstrVal, source->value.bstrVal);
  Execute(Command::VariantReset, {Variant(copy)});
  const unsigned char zero[sizeof(VariantHolder)] = {};
  EXPECT_EQ(std::memcmp(copy, zero, sizeof zero), 0);
  FreeVariantHolder(copy);
  FreeVariantHolder(source);
}

TEST_F(Automation, VariantToTextSplitsTheFlatIndexOverTheDimensions) {
  // Grid is 3 x 2 with lower bounds 0 and 5, (i, j) = 10 * i + j; the first dimension varies fastest.
  const RuntimeValue r = Member(Command::ObjectGetVariant, "Grid");
  VariantHolder* grid = static_cast<VariantHolder*>(r.Pointer());
  ASSERT_EQ(grid->value.vt, VT_ARRAY | VT_I4);
  const struct {
    RuntimeValue index;
    const char* text;
  } kCases[] = {{cmd::IntValue(1), "5"},  {cmd::IntValue(2), "15"}, {cmd::IntValue(4), "6"},
                {cmd::DoubleValue(6), "26"}, {cmd::IntValue(7), ""},  {cmd::IntValue(0), ""},
                {cmd::Omitted(), ""}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Text(Execute(Command::VariantToText, {Variant(grid), c.index})), c.text);
  }
  // Stored values are converted to the element type; an index outside the array is refused.
  EXPECT_EQ(Execute(Command::VariantSetValue, {Variant(grid), cmd::TextValue("77"), cmd::IntValue(4)}).low, 1u);
  EXPECT_EQ(Text(Execute(Command::VariantToText, {Variant(grid), cmd::IntValue(4)})), "77");
  EXPECT_EQ(Execute(Command::VariantSetValue, {Variant(grid), cmd::TextValue("x"), cmd::IntValue(1)}).low, 0u);
  EXPECT_EQ(Execute(Command::VariantSetValue, {Variant(grid), cmd::IntValue(1), cmd::IntValue(7)}).low, 0u);
  EXPECT_EQ(Execute(Command::VariantSetValue, {Variant(grid), cmd::ByteSetValue({}), cmd::IntValue(1)}).low, 0u);
  FreeVariantHolder(grid);
}

TEST_F(Automation, VariantSetValueMakesArraysFromByteSetsAndRuntimeArrays) {
  OwnedVariantHolder v;
  const OwnedByteSet bytes = OwnedByteSet::Copy("\x01\x02\xFF");
  ASSERT_TRUE(cmd::VariantSetValue(v, cmd::ByteSetValue(bytes.view())));
  ASSERT_EQ(v.vt(), VT_ARRAY | VT_UI1);
  LONG lower = 0, upper = 0;
  SafeArrayGetLBound(v.value()->parray, 1, &lower);
  SafeArrayGetUBound(v.value()->parray, 1, &upper);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 3);
  EXPECT_EQ(std::memcmp(v.value()->parray->pvData, "\x01\x02\xFF", 3), 0);

  // A 2 x 2 array of texts is flattened in memory order; a null element is the empty text.
  auto* texts = static_cast<unsigned char*>(RuntimeAlloc(12 + 4 * sizeof(char*)));
  const int32_t header[3] = {2, 2, 2};
  char* const elements[4] = {NewText("甲"), nullptr, NewText("c"), NewText("d")};
  std::memcpy(texts, header, 12);
  std::memcpy(texts + 12, elements, sizeof elements);
  ASSERT_TRUE(cmd::VariantSetValue(v, cmd::ArrayValue(type::Text, texts)));
  ASSERT_EQ(v.vt(), VT_ARRAY | VT_BSTR);
  EXPECT_EQ(SafeArrayGetDim(v.value()->parray), 1u);
  const char* const expected[] = {"甲", "", "c", "d"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Gbk(cmd::VariantToText(v, i + 1).c_str()), Gbk(expected[i]));
  FreeArray(type::Text, texts);

  // Scalars by the argument table (objects as IUnknown); a value of no VARIANT form empties it.
  ASSERT_TRUE(cmd::VariantSetValue(v, cmd::BoolValue(true)));
  EXPECT_EQ(v.value()->boolVal, VARIANT_TRUE);
  const OwnedObject object = OwnedObject::Share(probe.get());
  ASSERT_TRUE(cmd::VariantSetValue(v, cmd::ObjectValue(object)));
  EXPECT_EQ(v.vt(), VT_UNKNOWN);
  EXPECT_EQ(v.value()->punkVal, holder->object);
  ASSERT_TRUE(cmd::VariantSetValue(v, cmd::VariantValue(v)));  // from itself
  EXPECT_EQ(v.value()->punkVal, holder->object);
  EXPECT_FALSE(cmd::VariantSetValue(v, RuntimeValue::Of(type::SubroutinePointer, 1)));
  EXPECT_EQ(v.vt(), VT_EMPTY);
  EXPECT_FALSE(cmd::VariantSetValue(v, cmd::IntValue(1), 1)) << "no array to index";
}

TEST(AutomationError, IsKeptPerThread) {
  RegisterAutomationCommands();
  Execute(Command::ObjectGetText, {Holder(nullptr), cmd::TextValue("x")});
  int32_t before = 1, after = 1;
  std::thread other([&] {
    before = AutomationError();
    ObjectHolder* holder = NewObjectHolder(MakeDispatchObject<Probe>().get());
    Execute(Command::ObjectGetText, {Holder(holder), cmd::TextValue("NoSuchMember")});
    after = AutomationError();
    FreeObjectHolder(holder);
  });
  other.join();
  EXPECT_EQ(before, 0);
  EXPECT_EQ(after, automation_error::MemberNotFound);
  EXPECT_EQ(AutomationError(), automation_error::EmptyObject);
  SetObjectHolderReleaser(nullptr);
}

}  // namespace
}  // namespace qv

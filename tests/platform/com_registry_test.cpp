// GUID text forms, the ProgID registry and object creation.
#include <gtest/gtest.h>

#include <new>
#include <string_view>
#include <thread>

#include "platform/com/dispatch_object.h"
#include "platform/com/initialise.h"
#include "platform/com/registry.h"
#include "platform/com/task_memory.h"

namespace win {
namespace {

constexpr CLSID kTestClsid = {0x0E59F1D5, 0x1FBE, 0x11D0, {0x8F, 0xF2, 0x00, 0xA0, 0xD1, 0x00, 0x38, 0xBC}};
constexpr CLSID kOtherClsid = {0xA1B2C3D4, 0x0001, 0x0002, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}};

class Probe : public DispatchObject {
 public:
  Probe() : DispatchObject(Type()) { ++instances; }
  ~Probe() override { --instances; }
  static std::shared_ptr<const DispatchType> Type() {
    static const auto type =
        TypeBuilder<Probe>(u"IProbe").PropertyGet(u"Value", DISPID_VALUE, VT_I4, &Probe::Value).Build();
    return type;
  }
  HRESULT Value(Invocation& call) {
    call.Result()->vt = VT_I4;
    call.Result()->lVal = 1;
    return S_OK;
  }
  static inline int instances = 0;
};

// Registers the probe class for one test and initialises COM on the test's thread.
class ComRegistry : public testing::Test {
 protected:
  void SetUp() override {
    BuiltinClass probe;
    probe.clsid = kTestClsid;
    probe.progIds = {u"Quorvane.Probe", u"Quorvane.Probe.1"};
    probe.create = &CreateDispatchInstance<Probe>;
    ASSERT_EQ(RegisterBuiltinClass(probe), S_OK);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    RevokeBuiltinClass(kTestClsid);
    EXPECT_EQ(Probe::instances, 0) << "every created object was released";
  }
};

TEST(ComGuid, TextFormRoundTrips) {
  char16_t buffer[39];
  ASSERT_EQ(StringFromGUID2(kTestClsid, buffer, 39), 39);
  EXPECT_EQ(std::u16string_view(buffer), u"{0E59F1D5-1FBE-11D0-8FF2-00A0D10038BC}");
  EXPECT_EQ(StringFromGUID2(kTestClsid, buffer, 38), 0);
  EXPECT_EQ(StringFromGUID2(kTestClsid, nullptr, 39), 0);
  CLSID parsed{};
  ASSERT_EQ(CLSIDFromString(u"{0e59f1d5-1fbe-11d0-8ff2-00a0d10038bc}", &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, kTestClsid));
  IID iid{};
  ASSERT_EQ(IIDFromString(u"{00020400-0000-0000-C000-000000000046}", &iid), S_OK);
  EXPECT_TRUE(IsEqualGUID(iid, IID_IDispatch));
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(IID_IUnknown, &text), S_OK);
  EXPECT_EQ(std::u16string_view(text), u"{00000000-0000-0000-C000-000000000046}");
  CoTaskMemFree(text);
}

TEST(ComGuid, MalformedTextIsRefused) {
  const char16_t* bad[] = {u"{0E59F1D5-1FBE-11D0-8FF2-00A0D10038B}",   u"{0E59F1D5-1FBE-11D0-8FF2-00A0D10038BCC}",
                           u"{0E59F1D5-1FBE-11D0-8FF200A0D10038BC-}",  u"{0E59F1D5-1FBE-11D0-8FF2-00A0D10038BG}",
                           u"{0E59F1D5+1FBE-11D0-8FF2-00A0D10038BC}",  u"0E59F1D5-1FBE-11D0-8FF2-00A0D10038BC",
                           u"{",                                        u"{0E59F1D5-1FBE-11D0-8FF2-00A0D10038BC"};
  for (const char16_t* text : bad) {
    CLSID out = kOtherClsid;
    EXPECT_EQ(CLSIDFromString(text, &out), CO_E_CLASSSTRING) << std::u16string_view(text).size();
    EXPECT_TRUE(IsEqualGUID(out, kOtherClsid)) << "untouched on failure";
    IID iid = kOtherClsid;
    EXPECT_EQ(IIDFromString(text, &iid), E_INVALIDARG);
  }
  CLSID out;
  EXPECT_EQ(CLSIDFromString(nullptr, &out), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromString(u"{00000000-0000-0000-C000-000000000046}", nullptr), E_INVALIDARG);
}

TEST_F(ComRegistry, ProgIdsMatchInAnyLetterCase) {
  for (const char16_t* name : {u"Quorvane.Probe", u"quorvane.probe", u"QUORVANE.PROBE.1"}) {
    CLSID clsid = CLSID_NULL;
    ASSERT_EQ(CLSIDFromProgID(name, &clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, kTestClsid));
    clsid = CLSID_NULL;
    ASSERT_EQ(CLSIDFromString(name, &clsid), S_OK) << "CLSIDFromString also reads ProgIDs";
    EXPECT_TRUE(IsEqualGUID(clsid, kTestClsid));
  }
  CLSID clsid = kOtherClsid;
  EXPECT_EQ(CLSIDFromProgID(u"Quorvane.Missing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Quorvane.Prob", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
  EXPECT_TRUE(IsEqualGUID(clsid, kOtherClsid));
  EXPECT_EQ(CLSIDFromString(u"Quorvane.Missing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);

  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kTestClsid, &progId), S_OK);
  EXPECT_EQ(std::u16string_view(progId), u"Quorvane.Probe");
  CoTaskMemFree(progId);
  EXPECT_EQ(ProgIDFromCLSID(kOtherClsid, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);
}

TEST_F(ComRegistry, RegistrationRules) {
  BuiltinClass clash;
  clash.clsid = kOtherClsid;
  clash.progIds = {u"QUORVANE.PROBE"};
  clash.create = &CreateDispatchInstance<Probe>;
  EXPECT_EQ(RegisterBuiltinClass(clash), E_INVALIDARG) << "a ProgID belongs to one class";
  clash.progIds = {u""};
  EXPECT_EQ(RegisterBuiltinClass(clash), E_INVALIDARG);
  clash.progIds = {};
  clash.create = nullptr;
  EXPECT_EQ(RegisterBuiltinClass(clash), E_INVALIDARG);
  clash.create = &CreateDispatchInstance<Probe>;
  clash.clsid = CLSID_NULL;
  EXPECT_EQ(RegisterBuiltinClass(clash), E_INVALIDARG);
  EXPECT_EQ(RevokeBuiltinClass(kOtherClsid), REGDB_E_CLASSNOTREG);
}

TEST_F(ComRegistry, CoCreateInstanceMakesRegisteredClasses) {
  ComPtr<IDispatch> object;
  ASSERT_EQ(CoCreateInstance(kTestClsid, nullptr, CLSCTX_ALL, IID_IDispatch, object.ReceiveVoid()), S_OK);
  ASSERT_TRUE(object);
  EXPECT_EQ(Probe::instances, 1);
  EXPECT_EQ(OleRun(object.get()), S_OK);
  EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
  object.Reset();
  EXPECT_EQ(Probe::instances, 0);

  struct Row {
    CLSID clsid;
    IUnknown* outer;
    DWORD context;
    IID iid;
    HRESULT hr;
  };
  IUnknown* someOuter = reinterpret_cast<IUnknown*>(0x10);  // never called: aggregation is refused first
  const Row rows[] = {
      {kTestClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, S_OK},
      {kTestClsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER, IID_IUnknown, S_OK},
      {kTestClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, REGDB_E_CLASSNOTREG},
      {kTestClsid, nullptr, CLSCTX_REMOTE_SERVER, IID_IUnknown, REGDB_E_CLASSNOTREG},
      {kTestClsid, nullptr, CLSCTX_INPROC_HANDLER, IID_IUnknown, REGDB_E_CLASSNOTREG},
      {kTestClsid, nullptr, 0, IID_IUnknown, E_INVALIDARG},
      {kTestClsid, nullptr, CLSCTX_NO_CODE_DOWNLOAD, IID_IUnknown, E_INVALIDARG},
      {kTestClsid, nullptr, CLSCTX_INPROC_SERVER | 0x40000000, IID_IUnknown, E_INVALIDARG},
      {kOtherClsid, nullptr, CLSCTX_ALL, IID_IUnknown, REGDB_E_CLASSNOTREG},
      {CLSID_NULL, nullptr, CLSCTX_ALL, IID_IUnknown, REGDB_E_CLASSNOTREG},
      {kTestClsid, nullptr, CLSCTX_ALL, IID_ITypeLib, E_NOINTERFACE},
      {kTestClsid, someOuter, CLSCTX_ALL, IID_IUnknown, CLASS_E_NOAGGREGATION},
  };
  for (size_t k = 0; k < std::size(rows); ++k) {
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(rows[k].clsid, rows[k].outer, rows[k].context, rows[k].iid, &out), rows[k].hr)
        << "row " << k;
    if (SUCCEEDED(rows[k].hr)) static_cast<IUnknown*>(out)->Release();
    else EXPECT_EQ(out, nullptr) << "row " << k;
  }
  EXPECT_EQ(CoCreateInstance(kTestClsid, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ComRegistry, ClassObjectsCreateInstances) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(kTestClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.ReceiveVoid()),
            S_OK);
  ComPtr<IDispatch> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.ReceiveVoid()), S_OK);
  EXPECT_EQ(Probe::instances, 1);
  void* out = nullptr;
  EXPECT_EQ(CoGetClassObject(kTestClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(CoGetClassObject(kOtherClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &out), REGDB_E_CLASSNOTREG);
}

TEST_F(ComRegistry, CreationNeedsComOnTheCallingThread) {
  // This thread is initialised (SetUp); a fresh thread is not, and CoUninitialize ends it.
  HRESULT onOtherThread = S_OK;
  void* out = reinterpret_cast<void*>(0x1);
  std::thread([&] { onOtherThread = CoCreateInstance(kTestClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &out); }).join();
  EXPECT_EQ(onOtherThread, CO_E_NOTINITIALIZED);
  EXPECT_EQ(out, nullptr);

  CoUninitialize();
  EXPECT_EQ(CoCreateInstance(kTestClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &out), CO_E_NOTINITIALIZED);
  EXPECT_EQ(CoGetClassObject(kTestClsid, CLSCTX_ALL, nullptr, IID_IClassFactory, &out), CO_E_NOTINITIALIZED);
  ASSERT_EQ(OleInitialize(nullptr), S_OK);
  EXPECT_EQ(CoCreateInstance(kTestClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &out), S_OK) << "OLE initialises COM";
  static_cast<IUnknown*>(out)->Release();
  OleUninitialize();
  ASSERT_EQ(CoInitialize(nullptr), S_OK);  // balanced by TearDown
}

TEST_F(ComRegistry, ExceptionsOfACreationFunctionDoNotEscape) {
  BuiltinClass throwing;
  throwing.clsid = kOtherClsid;
  throwing.create = [](IUnknown*, REFIID, void** object) -> HRESULT {
    *object = reinterpret_cast<void*>(0x1);
    throw std::bad_alloc();
  };
  ASSERT_EQ(RegisterBuiltinClass(throwing), S_OK);
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(kOtherClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &out), E_OUTOFMEMORY);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(RevokeBuiltinClass(kOtherClsid), S_OK);
}

TEST(ComTypeLib, ThereAreNoTypeLibraryFiles) {
  ITypeLib* lib = reinterpret_cast<ITypeLib*>(0x1);
  EXPECT_EQ(LoadTypeLib(u"C:\\Windows\\System32\\msscript.ocx", &lib), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(lib, nullptr);
  EXPECT_EQ(LoadTypeLib(nullptr, &lib), E_INVALIDARG);
  EXPECT_EQ(LoadTypeLib(u"x", nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace win

// Library loading: module names, reference counts, exports by name and ordinal, shared objects
// through dlopen and calls through procedure addresses.
#include "platform/loader/loader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "platform/loader/system_modules.h"

namespace win {
namespace {

// Calls with the last error set to a sentinel; expects a failed result and exactly that error.
template <typename Call>
void ExpectError(Call call, DWORD error) {
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(call());
  EXPECT_EQ(GetLastError(), error);
}

template <intptr_t K>
intptr_t Return(const intptr_t*) {
  return K;
}

TEST(LoaderNames, BuiltinModulesMatchWhateverCaseSuffixOrDirectory) {
  const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel32, nullptr);
  for (const char* name : {"KERNEL32", "Kernel32.DLL", "C:\\Windows\\System32\\kernel32.dll", "C:kernel32",
                           "/opt/nowhere/KERNEL32.dll", "relative/dir\\Kernel32"}) {
    SCOPED_TRACE(name);
    const HMODULE module = LoadLibraryA(name);
    EXPECT_EQ(module, kernel32);
    EXPECT_EQ(FreeLibrary(module), TRUE);
  }
  EXPECT_NE(GetModuleHandleA("WINHTTP"), nullptr);
  EXPECT_NE(GetModuleHandleA("WINHTTP"), kernel32);
}

TEST(LoaderNames, OtherNamesFailWithModuleNotFound) {
  // A trailing dot means "no extension"; files are case-sensitive here.
  for (const char* name : {"", "kernel32.", "kernel32.exe", "kernel32.dll.so", "kernel32.dll/", "Gdi32.dll",
                           "/nonexistent/libm.so.6", "LIBM.SO.6"}) {
    SCOPED_TRACE(name);
    ExpectError([&] { return LoadLibraryA(name); }, ERROR_MOD_NOT_FOUND);
    ExpectError([&] { return GetModuleHandleA(name); }, ERROR_MOD_NOT_FOUND);
  }
  ExpectError([] { return LoadLibraryA(nullptr); }, ERROR_INVALID_PARAMETER);
}

TEST(LoaderReferences, BuiltinModuleCountsButNeverUnloads) {
  const BuiltinExport exports[] = {{"One", &Return<1>, 0}};
  ASSERT_TRUE(RegisterBuiltinModule("qvtest_refs.dll", exports));
  const HMODULE module = GetModuleHandleA("qvtest_refs");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(LoadLibraryA("qvtest_refs"), module);
  EXPECT_EQ(LoadLibraryA("QVTEST_REFS.DLL"), module);
  EXPECT_EQ(GetModuleHandleA("qvtest_refs"), module);  // adds no reference
  EXPECT_EQ(ModuleReferenceCount(module), 2);
  EXPECT_EQ(FreeLibrary(module), TRUE);
  EXPECT_EQ(ModuleReferenceCount(module), 1);
  EXPECT_EQ(FreeLibrary(module), TRUE);
  EXPECT_EQ(FreeLibrary(module), TRUE);  // pinned: the count stays at 0 and the handle valid
  EXPECT_EQ(ModuleReferenceCount(module), 0);
  EXPECT_NE(GetProcAddress(module, "One"), nullptr);
}

TEST(LoaderReferences, BadHandlesAreRefused) {
  int notAModule = 0;
  for (HMODULE handle : {HMODULE{nullptr}, reinterpret_cast<HMODULE>(&notAModule)}) {
    ExpectError([&] { return FreeLibrary(handle); }, ERROR_INVALID_HANDLE);
    ExpectError([&] { return GetProcAddress(handle, "GetTickCount"); }, ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(ModuleReferenceCount(handle), -1);
  }
}

TEST(LoaderExports, OrdinalsArePositionsFromOneAndContinueAcrossRegistrations) {
  const BuiltinExport first[] = {{"One", &Return<1>, 0}, {"Two", &Return<2>, 0}};
  const BuiltinExport later[] = {{"Three", &Return<3>, 0}};
  ASSERT_TRUE(RegisterBuiltinModule("qvtest_ordinals", first));
  ASSERT_TRUE(RegisterBuiltinModule("QvTest_Ordinals.dll", later));  // the same module
  const HMODULE module = GetModuleHandleA("qvtest_ordinals.dll");
  const char* names[] = {"One", "Two", "Three"};
  for (uint16_t ordinal = 1; ordinal <= 3; ++ordinal) {
    SCOPED_TRACE(ordinal);
    // The pointer value below 0x10000 that MAKEINTRESOURCE makes.
    const auto procedure = LookupProcedure(module, reinterpret_cast<LPCSTR>(uintptr_t{ordinal}));
    ASSERT_TRUE(procedure.has_value());
    EXPECT_EQ(procedure->address, GetProcAddress(module, names[ordinal - 1]));
    EXPECT_EQ(CallProcedure(*procedure, {}), intptr_t{ordinal});
  }
  for (uint16_t ordinal : {0, 4, 0xFFFF}) {
    SCOPED_TRACE(ordinal);
    ExpectError([&] { return GetProcAddress(module, MakeOrdinalName(ordinal)); }, ERROR_PROC_NOT_FOUND);
  }
}

TEST(LoaderExports, MissingExportsFailWithProcNotFound) {
  const HMODULE kernel32 = GetModuleHandleA("kernel32");
  const std::pair<HMODULE, const char*> rows[] = {
      {kernel32, "NoSuchExport"},
      {kernel32, "gettickcount"},
      {kernel32, ""},
      {kernel32, "GetTickCount "},
      {GetModuleHandleA("winhttp"), "QvNoSuchExport"},
  };
  for (const auto& [module, name] : rows) {
    SCOPED_TRACE(name);
    ExpectError([&] { return GetProcAddress(module, name); }, ERROR_PROC_NOT_FOUND);
  }
}

TEST(LoaderExports, InvalidRegistrationsRegisterNothing) {
  const BuiltinExport good = {"QvGood", &Return<1>, 0};
  const std::pair<const char*, std::vector<BuiltinExport>> rows[] = {
      {"", {good}},
      {"dir/qvtest_bad.dll", {good}},
      {"c:qvtest_bad.dll", {good}},
      {"a\\qvtest_bad.dll", {good}},
      {".", {good}},
      {"qvtest_bad", {good, {nullptr, &Return<1>, 0}}},
      {"qvtest_bad", {good, {"", &Return<1>, 0}}},
      {"qvtest_bad", {good, {"QvNoThunk", nullptr, 0}}},
      {"qvtest_bad", {good, {"QvNegative", &Return<1>, -1}}},
      {"qvtest_bad", {good, {"QvGood", &Return<2>, 0}}},
      {"kernel32", {good, {"GetTickCount", &Return<1>, 0}}},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(RegisterBuiltinModule(rows[i].first, rows[i].second));
  }
  EXPECT_EQ(GetModuleHandleA("qvtest_bad"), nullptr);
  EXPECT_EQ(GetProcAddress(GetModuleHandleA("kernel32"), "QvGood"), nullptr);
}

TEST(LoaderSharedObjects, OpensByNameAndPathAndClosesAtZero) {
  Dl_info libmFile{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&::cos)), &libmFile), 0);
  // Mapped into the process already, but not loaded through LoadLibraryA.
  ExpectError([] { return GetModuleHandleA("libm.so.6"); }, ERROR_MOD_NOT_FOUND);

  const HMODULE libm = LoadLibraryA("libm.so.6");
  ASSERT_NE(libm, nullptr);
  EXPECT_EQ(LoadLibraryA("libm.so.6"), libm);
  EXPECT_EQ(LoadLibraryA(libmFile.dli_fname), libm);
  EXPECT_EQ(GetModuleHandleA("libm.so.6"), libm);
  EXPECT_EQ(ModuleReferenceCount(libm), 3);

  const auto procedure = LookupProcedure(libm, "cos");
  ASSERT_TRUE(procedure.has_value());
  EXPECT_EQ(procedure->argumentCount, kUnknownArgumentCount);
  const auto cosine = reinterpret_cast<double (*)(double)>(reinterpret_cast<void (*)()>(procedure->address));
  EXPECT_EQ(cosine(0.5), std::cos(0.5));
  for (LPCSTR name : {"qv_no_such_symbol", "", MakeOrdinalName(1)})
    ExpectError([&] { return GetProcAddress(libm, name); }, ERROR_PROC_NOT_FOUND);

  EXPECT_EQ(FreeLibrary(libm), TRUE);
  EXPECT_EQ(FreeLibrary(libm), TRUE);
  EXPECT_EQ(ModuleReferenceCount(libm), 1);
  EXPECT_EQ(FreeLibrary(libm), TRUE);
  EXPECT_EQ(ModuleReferenceCount(libm), -1);  // closed: the handle names nothing now
  ExpectError([&] { return FreeLibrary(libm); }, ERROR_INVALID_HANDLE);
  ExpectError([&] { return GetProcAddress(libm, "cos"); }, ERROR_MOD_NOT_FOUND);
}

TEST(LoaderSharedObjects, ConcurrentLoadsAndFreesKeepTheCountsBalanced) {
  const HMODULE kernel32 = GetModuleHandleA("kernel32");
  const int before = ModuleReferenceCount(kernel32);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) {
        FreeLibrary(LoadLibraryA("libm.so.6"));
        FreeLibrary(LoadLibraryA("Kernel32.dll"));
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(ModuleReferenceCount(kernel32), before);
  EXPECT_EQ(GetModuleHandleA("libm.so.6"), nullptr);
}

// A bit per argument that arrived in its place (argument k equal to 100 + k).
intptr_t Positions16(intptr_t a0, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5, intptr_t a6,
                     intptr_t a7, intptr_t a8, intptr_t a9, intptr_t a10, intptr_t a11, intptr_t a12, intptr_t a13,
                     intptr_t a14, intptr_t a15) {
  const intptr_t arguments[] = {a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15};
  intptr_t mask = 0;
  for (int k = 0; k < 16; ++k)
    if (arguments[k] == 100 + k) mask |= intptr_t{1} << k;
  return mask;
}

int g_thunkCalls = 0;
intptr_t SumOfThree(const intptr_t* words) {
  ++g_thunkCalls;
  return words[0] + words[1] + words[2];
}

TEST(LoaderCalls, WordArrayProceduresGetTheirCountAndNeverTooFewWords) {
  const Procedure procedure{FARPROC(reinterpret_cast<void (*)()>(&SumOfThree)), ProcedureForm::WordArray, 3};
  const intptr_t words[] = {1, 20, 300, 4000};
  EXPECT_EQ(CallProcedure(procedure, std::span(words, 3)), 321);
  EXPECT_EQ(CallProcedure(procedure, std::span(words, 4)), 321);  // the extra word is not read
  g_thunkCalls = 0;
  EXPECT_EQ(CallProcedure(procedure, std::span(words, 2)), std::nullopt);
  EXPECT_EQ(CallProcedure(procedure, {}), std::nullopt);
  EXPECT_EQ(g_thunkCalls, 0);
  EXPECT_EQ(CallProcedure(Procedure{}, std::span(words, 3)), std::nullopt);  // no address
}

TEST(LoaderCalls, NativeProceduresTakeUpToSixteenWordsInOrder) {
  const Procedure procedure{FARPROC(reinterpret_cast<void (*)()>(&Positions16)), ProcedureForm::Native,
                            kUnknownArgumentCount};
  std::vector<intptr_t> words;
  for (int k = 0; k < 17; ++k) words.push_back(100 + k);
  EXPECT_EQ(CallProcedure(procedure, std::span(words.data(), 16)), 0xFFFF);  // registers and stack
  EXPECT_EQ(CallProcedure(procedure, words), std::nullopt);                  // 17 cannot be passed

  const HMODULE libc = LoadLibraryA("libc.so.6");
  const auto labs = LookupProcedure(libc, "labs");
  ASSERT_TRUE(labs.has_value());
  const intptr_t negative[] = {-7};
  EXPECT_EQ(CallProcedure(*labs, negative), 7);
  EXPECT_EQ(FreeLibrary(libc), TRUE);
}

unsigned g_lastWidth = 0;
unsigned TypedExport(uint32_t width, int value, const char* text) {
  g_lastWidth = width;
  return value < 0 ? 0xFFFFFFFFu : static_cast<unsigned char>(text[0]);
}
int ShortExport(short s) noexcept { return s; }  // noexcept functions export too
int g_voidCalls = 0;
void VoidExport() { ++g_voidCalls; }

TEST(LoaderCalls, TypedExportsConvertWordsToParametersAndResultsBack) {
  const BuiltinExport exports[] = {ExportOf<&TypedExport>("Typed"), ExportOf<&ShortExport>("Short"),
                                   ExportOf<&VoidExport>("Void")};
  EXPECT_EQ(exports[0].argumentCount, 3);
  ASSERT_TRUE(RegisterBuiltinModule("qvtest_typed", exports));
  const HMODULE module = GetModuleHandleA("qvtest_typed");
  const auto typed = *LookupProcedure(module, "Typed");
  const auto text = reinterpret_cast<intptr_t>("A");

  const intptr_t words[] = {intptr_t{0x100000005}, 1, text};
  EXPECT_EQ(CallProcedure(typed, words), 'A');
  EXPECT_EQ(g_lastWidth, 5u);  // a 32-bit parameter takes the word's low half
  const intptr_t negative[] = {0, -1, text};
  EXPECT_EQ(CallProcedure(typed, negative), intptr_t{0xFFFFFFFF});  // unsigned results: zero-extended
  const intptr_t shortMinusOne[] = {0x1FFFF};
  EXPECT_EQ(CallProcedure(*LookupProcedure(module, "Short"), shortMinusOne), -1);  // signed: sign-extended
  g_voidCalls = 0;
  EXPECT_EQ(CallProcedure(*LookupProcedure(module, "Void"), {}), 0);
  EXPECT_EQ(g_voidCalls, 1);
}

TEST(LoaderSystemModules, TickCountIsMillisecondsSinceBoot) {
  timespec boot{};
  clock_gettime(CLOCK_BOOTTIME, &boot);
  const auto expected = static_cast<DWORD>(static_cast<uint64_t>(boot.tv_sec) * 1000 + boot.tv_nsec / 1000000);
  const DWORD first = GetTickCount();
  EXPECT_LE(static_cast<DWORD>(first - expected), 50u);  // differences wrap as the count does

  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const auto procedure = LookupProcedure(GetModuleHandleA("kernel32"), "GetTickCount");
  ASSERT_TRUE(procedure.has_value());
  const DWORD elapsed = static_cast<DWORD>(*CallProcedure(*procedure, {})) - first;
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace win

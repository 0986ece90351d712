// The HTTP service (WinHttp) in synchronous mode, over libcurl: URL cracking, session, connection
// and request handles, time limits, proxies, credentials, options, request headers, sending, and
// reading the response headers and body. Wide texts are UTF-16 (char16_t); results and
// GetLastError codes are WinHttp's.
//
// Handles are opaque pointers into a table of live objects: a closed or unknown handle fails with
// ERROR_INVALID_HANDLE instead of being dereferenced, and a handle of the wrong kind with
// ERROR_WINHTTP_INCORRECT_HANDLE_TYPE. Handles can be closed in any order: a request keeps its
// connection and session alive inside the service until it is closed itself.
//
// libcurl is loaded when the service is first used (WinHttpCheckPlatform or WinHttpOpen), not at
// start-up. Where it cannot be loaded, WinHttpCheckPlatform returns FALSE and WinHttpOpen fails
// with ERROR_WINHTTP_INTERNAL_ERROR; URL cracking works without it.
//
// While a call waits on the network it runs the wait hook (SetWinHttpWaitHook) between short
// polls, so the user interface can repaint; by default the hook processes the thread's pending
// paint events and nothing else.
#pragma once

#include <cstdint>
#include <span>

#include "platform/loader/loader.h"
#include "platform/windows_types.h"

namespace win {

struct WinHttpObject;
using HINTERNET = WinHttpObject*;
using INTERNET_PORT = uint16_t;
using INTERNET_SCHEME = int32_t;

inline constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTP = 1;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTPS = 2;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_PORT = 0;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

// Laid out as on Windows, with UTF-16 pointers.
struct URL_COMPONENTS {
  DWORD dwStructSize = 0;
  LPWSTR lpszScheme = nullptr;
  DWORD dwSchemeLength = 0;
  INTERNET_SCHEME nScheme = 0;
  LPWSTR lpszHostName = nullptr;
  DWORD dwHostNameLength = 0;
  INTERNET_PORT nPort = 0;
  LPWSTR lpszUserName = nullptr;
  DWORD dwUserNameLength = 0;
  LPWSTR lpszPassword = nullptr;
  DWORD dwPasswordLength = 0;
  LPWSTR lpszUrlPath = nullptr;
  DWORD dwUrlPathLength = 0;
  LPWSTR lpszExtraInfo = nullptr;
  DWORD dwExtraInfoLength = 0;
};

// WinHttpCrackUrl flags.
inline constexpr DWORD ICU_ESCAPE = 0x80000000;
inline constexpr DWORD ICU_DECODE = 0x10000000;
inline constexpr DWORD ICU_REJECT_USERPWD = 0x00004000;

// WinHttpOpen access types and flags.
inline constexpr DWORD WINHTTP_ACCESS_TYPE_DEFAULT_PROXY = 0;
inline constexpr DWORD WINHTTP_ACCESS_TYPE_NO_PROXY = 1;
inline constexpr DWORD WINHTTP_ACCESS_TYPE_NAMED_PROXY = 3;
inline constexpr DWORD WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY = 4;
inline constexpr DWORD WINHTTP_FLAG_ASYNC = 0x10000000;

// WinHttpOpenRequest flags.
inline constexpr DWORD WINHTTP_FLAG_ESCAPE_PERCENT = 0x00000004;
inline constexpr DWORD WINHTTP_FLAG_NULL_CODEPAGE = 0x00000008;
inline constexpr DWORD WINHTTP_FLAG_ESCAPE_DISABLE = 0x00000040;
inline constexpr DWORD WINHTTP_FLAG_ESCAPE_DISABLE_QUERY = 0x00000080;
inline constexpr DWORD WINHTTP_FLAG_BYPASS_PROXY_CACHE = 0x00000100;
inline constexpr DWORD WINHTTP_FLAG_REFRESH = WINHTTP_FLAG_BYPASS_PROXY_CACHE;
inline constexpr DWORD WINHTTP_FLAG_SECURE = 0x00800000;

// WinHttpSetCredentials.
inline constexpr DWORD WINHTTP_AUTH_TARGET_SERVER = 0;
inline constexpr DWORD WINHTTP_AUTH_TARGET_PROXY = 1;
inline constexpr DWORD WINHTTP_AUTH_SCHEME_BASIC = 1;

// WinHttpSetOption options and values.
inline constexpr DWORD WINHTTP_OPTION_RESOLVE_TIMEOUT = 2;
inline constexpr DWORD WINHTTP_OPTION_CONNECT_TIMEOUT = 3;
inline constexpr DWORD WINHTTP_OPTION_SEND_TIMEOUT = 5;
inline constexpr DWORD WINHTTP_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr DWORD WINHTTP_OPTION_SECURITY_FLAGS = 31;
inline constexpr DWORD WINHTTP_OPTION_DISABLE_FEATURE = 63;
inline constexpr DWORD WINHTTP_OPTION_ENABLE_FEATURE = 79;
inline constexpr DWORD WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS = 89;
inline constexpr DWORD WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE = 91;

inline constexpr DWORD SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100;
inline constexpr DWORD SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE = 0x00000200;
inline constexpr DWORD SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
inline constexpr DWORD SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;

inline constexpr DWORD WINHTTP_DISABLE_COOKIES = 0x00000001;
inline constexpr DWORD WINHTTP_DISABLE_REDIRECTS = 0x00000002;
inline constexpr DWORD WINHTTP_DISABLE_AUTHENTICATION = 0x00000004;
inline constexpr DWORD WINHTTP_DISABLE_KEEP_ALIVE = 0x00000008;
inline constexpr DWORD WINHTTP_ENABLE_SSL_REVOCATION = 0x00000001;
inline constexpr DWORD WINHTTP_ENABLE_SSL_REVERT_IMPERSONATION = 0x00000002;

// WinHttpAddRequestHeaders modifiers.
inline constexpr DWORD WINHTTP_ADDREQ_INDEX_MASK = 0x0000FFFF;
inline constexpr DWORD WINHTTP_ADDREQ_FLAGS_MASK = 0xFFFF0000;
inline constexpr DWORD WINHTTP_ADDREQ_FLAG_ADD_IF_NEW = 0x10000000;
inline constexpr DWORD WINHTTP_ADDREQ_FLAG_ADD = 0x20000000;
inline constexpr DWORD WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA = 0x40000000;
inline constexpr DWORD WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON = 0x01000000;
inline constexpr DWORD WINHTTP_ADDREQ_FLAG_COALESCE = WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA;
inline constexpr DWORD WINHTTP_ADDREQ_FLAG_REPLACE = 0x80000000;

// WinHttpQueryHeaders info levels and modifiers.
inline constexpr DWORD WINHTTP_QUERY_CONTENT_TYPE = 1;
inline constexpr DWORD WINHTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr DWORD WINHTTP_QUERY_VERSION = 18;
inline constexpr DWORD WINHTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD WINHTTP_QUERY_STATUS_TEXT = 20;
inline constexpr DWORD WINHTTP_QUERY_RAW_HEADERS = 21;
inline constexpr DWORD WINHTTP_QUERY_RAW_HEADERS_CRLF = 22;
inline constexpr DWORD WINHTTP_QUERY_CONTENT_ENCODING = 29;
inline constexpr DWORD WINHTTP_QUERY_LOCATION = 33;
inline constexpr DWORD WINHTTP_QUERY_SET_COOKIE = 43;
inline constexpr DWORD WINHTTP_QUERY_TRANSFER_ENCODING = 63;
inline constexpr DWORD WINHTTP_QUERY_CUSTOM = 65535;
inline constexpr DWORD WINHTTP_QUERY_FLAG_REQUEST_HEADERS = 0x80000000;
inline constexpr DWORD WINHTTP_QUERY_FLAG_NUMBER = 0x20000000;

// WinHttp's GetLastError codes.
inline constexpr DWORD ERROR_WINHTTP_OUT_OF_HANDLES = 12001;
inline constexpr DWORD ERROR_WINHTTP_TIMEOUT = 12002;
inline constexpr DWORD ERROR_WINHTTP_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_WINHTTP_INVALID_URL = 12005;
inline constexpr DWORD ERROR_WINHTTP_UNRECOGNIZED_SCHEME = 12006;
inline constexpr DWORD ERROR_WINHTTP_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_WINHTTP_INVALID_OPTION = 12009;
inline constexpr DWORD ERROR_WINHTTP_OPTION_NOT_SETTABLE = 12011;
inline constexpr DWORD ERROR_WINHTTP_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_WINHTTP_INCORRECT_HANDLE_STATE = 12019;
inline constexpr DWORD ERROR_WINHTTP_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_WINHTTP_CONNECTION_ERROR = 12030;
inline constexpr DWORD ERROR_WINHTTP_HEADER_NOT_FOUND = 12150;
inline constexpr DWORD ERROR_WINHTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr DWORD ERROR_WINHTTP_INVALID_HEADER = 12153;
inline constexpr DWORD ERROR_WINHTTP_INVALID_QUERY_REQUEST = 12154;
inline constexpr DWORD ERROR_WINHTTP_HEADER_ALREADY_EXISTS = 12155;
inline constexpr DWORD ERROR_WINHTTP_REDIRECT_FAILED = 12156;
inline constexpr DWORD ERROR_WINHTTP_SECURE_FAILURE = 12175;
inline constexpr DWORD ERROR_WINHTTP_HEADER_SIZE_OVERFLOW = 12182;

// TRUE when the service can be used: its transfer library loads.
BOOL WinHttpCheckPlatform();

// Cracks an http or https address (scheme letter case ignored). A component is returned when its
// length member is not 0: with a null pointer the pointer is set into the address and the length
// to the component's length; with a buffer the component is copied there with a NUL (the length
// member gives the buffer's size in characters and receives the copied length, or the size needed
// including the NUL with ERROR_INSUFFICIENT_BUFFER). An address without a path has an empty path;
// the extra information runs from the first '?' (or '#') to the end. Fails with
// ERROR_WINHTTP_UNRECOGNIZED_SCHEME for another scheme or none and ERROR_WINHTTP_INVALID_URL for a
// malformed address (no host, a port that is not a number or above 65535, a bad character).
// urlLength 0 means the address is NUL-terminated.
BOOL WinHttpCrackUrl(LPCWSTR url, DWORD urlLength, DWORD flags, URL_COMPONENTS* components);

HINTERNET WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxyName, LPCWSTR proxyBypass, DWORD flags);
// Times in milliseconds, each for one phase; 0 or -1 means no limit.
BOOL WinHttpSetTimeouts(HINTERNET handle, int resolveTimeout, int connectTimeout, int sendTimeout,
                        int receiveTimeout);
HINTERNET WinHttpConnect(HINTERNET session, LPCWSTR serverName, INTERNET_PORT serverPort, DWORD reserved);
HINTERNET WinHttpOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR objectName, LPCWSTR version,
                             LPCWSTR referrer, const LPCWSTR* acceptTypes, DWORD flags);
BOOL WinHttpSetCredentials(HINTERNET request, DWORD authTargets, DWORD authScheme, LPCWSTR userName,
                           LPCWSTR password, void* authParams);
BOOL WinHttpSetOption(HINTERNET handle, DWORD option, void* buffer, DWORD bufferLength);
// headersLength in characters; (DWORD)-1 means NUL-terminated.
BOOL WinHttpAddRequestHeaders(HINTERNET request, LPCWSTR headers, DWORD headersLength, DWORD modifiers);
BOOL WinHttpSendRequest(HINTERNET request, LPCWSTR headers, DWORD headersLength, void* optional,
                        DWORD optionalLength, DWORD totalLength, uintptr_t context);
BOOL WinHttpReceiveResponse(HINTERNET request, void* reserved);
BOOL WinHttpQueryDataAvailable(HINTERNET request, DWORD* bytesAvailable);
BOOL WinHttpReadData(HINTERNET request, void* buffer, DWORD bytesToRead, DWORD* bytesRead);
// bufferLength in bytes.
BOOL WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, LPCWSTR name, void* buffer, DWORD* bufferLength,
                         DWORD* index);
BOOL WinHttpCloseHandle(HINTERNET handle);

// The fifteen exports of the built-in module "winhttp.dll", in ordinal (alphabetical) order.
std::span<const BuiltinExport> WinHttpExports();

// What a blocking call runs between its short polls of the network. Null runs nothing. Returns the
// hook it replaces.
using WinHttpWaitHook = void (*)();
WinHttpWaitHook SetWinHttpWaitHook(WinHttpWaitHook hook);

// The number of handles that are open, for leak checks.
size_t WinHttpOpenHandleCount();

// Names the shared object loaded in place of libcurl ("libcurl.so.4"; null restores it), so that a
// test can see the service on a machine without it. Only before the service's first use: FALSE,
// changing nothing, once loading has been tried.
BOOL SetWinHttpLibraryForTesting(const char* curlObject);

}  // namespace win

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

// win32.cc's own: how the password is found in the command line.
void blank_argument(wchar_t* line, int index);

// The password's argument is blanked where the runtime found it, whatever
// the quoting, and nothing else is touched.
TEST(BlankArgument, BlanksTheArgumentAsTheRuntimeSplitsIt) {
  const struct {
    const wchar_t* line;
    const wchar_t* blanked;  // with argument 2 blanked
  } rows[] = {
      {L"r.exe 127.0.0.1:1 s3cret loop x", L"r.exe 127.0.0.1:1        loop x"},
      {L"\"C:\\my dir\\r.exe\" a \"my secret\" loop",
       L"\"C:\\my dir\\r.exe\" a             loop"},
      {L"r.exe\ta\tp\\\"w x\tloop", L"r.exe\ta\t     x\tloop"},
      {L"r.exe a p\\\\\"w x\" loop", L"r.exe a          loop"},
      {L"r.exe a C:\\pw\\ loop", L"r.exe a        loop"},
      {L"r.exe a \"a\"\"b c loop", L"r.exe a       c loop"},
      {L"r.exe a", L"r.exe a"},
  };
  for (const auto& row : rows) {
    std::wstring line = row.line;
    blank_argument(&line[0], 2);
    EXPECT_EQ(line, std::wstring(row.blanked));
  }
}

// Windows reports a port where nothing listens as a reset connection, which
// is read, and worded, as a refusal.
TEST(SocketError, ReadsAResetConnectionAsARefusal) {
  EXPECT_EQ(socket_error_report(WSAECONNRESET), REPORT_REFUSED);
  EXPECT_STREQ(socket_error_text(WSAECONNRESET), "Connection refused");
}

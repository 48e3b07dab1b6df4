// The simulated console (ConOut): records every call in order and keeps the
// mode fields (attribute, cursor) as a text console would.
#include "sim/platform.h"

namespace sim {

namespace {

Platform &P() { return Platform::Active(); }

ConsoleCall Record(ConsoleCall::Kind kind, uint64_t first = 0, uint64_t second = 0) {
  ConsoleCall call;
  call.kind = kind;
  call.first = first;
  call.second = second;
  return call;
}

// Every service checks that it was handed the console it belongs to.
bool IsOurConsole(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *self, const char *service) {
  if (self == P().console()) return true;
  P().Fault(std::string(service) + " called with a This that is not the console");
  return false;
}

EFI_STATUS EFIAPI OutputStringThunk(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *self, const CHAR16 *text) {
  Platform::Call call = P().BeginCall("OutputString");
  if (!IsOurConsole(self, "OutputString")) return call.Finish(EFI_INVALID_PARAMETER);
  if (text == nullptr) {
    P().Fault("OutputString with a null string");
    return call.Finish(EFI_INVALID_PARAMETER);
  }
  ConsoleCall record = Record(ConsoleCall::OutputString);
  while (*text != 0) record.text += *text++;
  call.AddField("String", Utf8Text(record.text));
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoConsole(std::move(record)));
}

EFI_STATUS EFIAPI SetAttributeThunk(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *self, UINTN attribute) {
  Platform::Call call = P().BeginCall("SetAttribute", {{"Attribute", HexText(attribute)}});
  if (!IsOurConsole(self, "SetAttribute")) return call.Finish(EFI_INVALID_PARAMETER);
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoConsole(Record(ConsoleCall::SetAttribute, attribute)));
}

EFI_STATUS EFIAPI ClearScreenThunk(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *self) {
  Platform::Call call = P().BeginCall("ClearScreen");
  if (!IsOurConsole(self, "ClearScreen")) return call.Finish(EFI_INVALID_PARAMETER);
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoConsole(Record(ConsoleCall::ClearScreen)));
}

EFI_STATUS EFIAPI SetCursorPositionThunk(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *self, UINTN column, UINTN row) {
  Platform::Call call = P().BeginCall("SetCursorPosition", {{"Column", DecText(column)}, {"Row", DecText(row)}});
  if (!IsOurConsole(self, "SetCursorPosition")) return call.Finish(EFI_INVALID_PARAMETER);
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoConsole(Record(ConsoleCall::SetCursorPosition, column, row)));
}

EFI_STATUS EFIAPI EnableCursorThunk(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *self, BOOLEAN visible) {
  Platform::Call call = P().BeginCall("EnableCursor", {{"Visible", DecText(visible)}});
  if (!IsOurConsole(self, "EnableCursor")) return call.Finish(EFI_INVALID_PARAMETER);
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoConsole(Record(ConsoleCall::EnableCursor, visible)));
}

EFI_STATUS EFIAPI ResetThunk(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *self, BOOLEAN extended) {
  Platform::Call call = P().BeginCall("Reset", {{"ExtendedVerification", DecText(extended)}});
  if (!IsOurConsole(self, "Reset")) return call.Finish(EFI_INVALID_PARAMETER);
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoConsole(Record(ConsoleCall::Reset, extended)));
}

EFI_STATUS EFIAPI TestStringThunk(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *) {
  P().Unexpected("TestString");
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI QueryModeThunk(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN, UINTN *, UINTN *) {
  P().Unexpected("QueryMode");
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI SetModeThunk(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN) {
  P().Unexpected("SetMode");
  return EFI_UNSUPPORTED;
}

}  // namespace

void Platform::FillConsole() {
  console_.Reset = ResetThunk;
  console_.OutputString = OutputStringThunk;
  console_.TestString = TestStringThunk;
  console_.QueryMode = QueryModeThunk;
  console_.SetMode = SetModeThunk;
  console_.SetAttribute = SetAttributeThunk;
  console_.ClearScreen = ClearScreenThunk;
  console_.SetCursorPosition = SetCursorPositionThunk;
  console_.EnableCursor = EnableCursorThunk;
  console_.Mode = &console_mode_;
  console_mode_.MaxMode = 1;
  console_mode_.Mode = 0;
  console_mode_.Attribute = static_cast<INT32>(EFI_LIGHTGRAY);
  console_mode_.CursorVisible = 1;
  system_table_.ConOut = &console_;
  system_table_.StdErr = &console_;
  system_table_.ConsoleOutHandle = CreateHandle("console");
  system_table_.StandardErrorHandle = system_table_.ConsoleOutHandle;
}

EFI_STATUS Platform::DoConsole(ConsoleCall call) {
  switch (call.kind) {
    case ConsoleCall::OutputString:
      call.status = output_string_status_;
      break;
    case ConsoleCall::SetAttribute:
      console_mode_.Attribute = static_cast<INT32>(call.first);
      break;
    case ConsoleCall::ClearScreen:
    case ConsoleCall::Reset:
      console_mode_.CursorColumn = 0;
      console_mode_.CursorRow = 0;
      break;
    case ConsoleCall::SetCursorPosition:
      console_mode_.CursorColumn = static_cast<INT32>(call.first);
      console_mode_.CursorRow = static_cast<INT32>(call.second);
      break;
    case ConsoleCall::EnableCursor:
      console_mode_.CursorVisible = call.first != 0;
      break;
  }
  console_calls_.push_back(call);
  return call.status;
}

std::vector<std::u16string> Platform::console_strings() const {
  std::vector<std::u16string> out;
  for (const ConsoleCall &c : console_calls_) {
    if (c.kind == ConsoleCall::OutputString) out.push_back(c.text);
  }
  return out;
}

std::u16string Platform::console_text() const {
  std::u16string out;
  for (const ConsoleCall &c : console_calls_) {
    if (c.kind == ConsoleCall::OutputString) out += c.text;
  }
  return out;
}

}  // namespace sim

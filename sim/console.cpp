// The simulated console (ConOut): records every call in order and keeps the
// mode fields (attribute, cursor) as a text console would. The slots are bound
// to DoConsole (sim/thunk.h makes the thunks); every service checks that it
// was handed the console it belongs to.
#include "sim/thunk.h"

namespace sim {

namespace {

using ConsoleThis = This<&Platform::console, "the console">;

// A console call of the given kind, with its numeric arguments.
template <ConsoleCall::Kind kKind, typename... Values>
EFI_STATUS Console(Platform &platform, Values... values) {
  const uint64_t numbers[] = {static_cast<uint64_t>(values)..., 0, 0};
  ConsoleCall call;
  call.kind = kKind;
  call.first = numbers[0];
  call.second = numbers[1];
  return platform.DoConsole(std::move(call));
}

std::u16string StringText(const CHAR16 *text) {
  std::u16string out;
  while (*text != 0) out += *text++;
  return out;
}

EFI_STATUS OutputText(Platform &platform, const CHAR16 *text) {
  ConsoleCall call;
  call.kind = ConsoleCall::OutputString;
  call.text = StringText(text);
  return platform.DoConsole(std::move(call));
}

// OutputString's string: a null one is a fault; it is logged once the console is vouched for.
struct StringArg : Unlogged {
  static std::optional<EFI_STATUS> Check(Platform &platform, Platform::Call &call, std::string_view service,
                                         const CHAR16 *text) {
    if (text == nullptr) {
      platform.Fault(std::string(service) + " with a null string");
      return EFI_INVALID_PARAMETER;
    }
    call.AddField("String", Utf8Text(StringText(text)));
    return std::nullopt;
  }
};

}  // namespace

void Platform::FillConsole() {
  Bind<"Reset", Console<ConsoleCall::Reset, BOOLEAN>, ConsoleThis, Arg<"ExtendedVerification", DecText>>(
      console_.Reset);
  Bind<"OutputString", OutputText, ConsoleThis, StringArg>(console_.OutputString);
  Bind<"SetAttribute", Console<ConsoleCall::SetAttribute, UINTN>, ConsoleThis, Arg<"Attribute", HexText>>(
      console_.SetAttribute);
  Bind<"ClearScreen", Console<ConsoleCall::ClearScreen>, ConsoleThis>(console_.ClearScreen);
  Bind<"SetCursorPosition", Console<ConsoleCall::SetCursorPosition, UINTN, UINTN>, ConsoleThis, Arg<"Column", DecText>,
       Arg<"Row", DecText>>(console_.SetCursorPosition);
  Bind<"EnableCursor", Console<ConsoleCall::EnableCursor, BOOLEAN>, ConsoleThis, Arg<"Visible", DecText>>(
      console_.EnableCursor);
  BindUnexpected<"TestString">(console_.TestString);
  BindUnexpected<"QueryMode">(console_.QueryMode);
  BindUnexpected<"SetMode">(console_.SetMode);
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
  console_calls_.push_back(std::move(call));
  return EFI_SUCCESS;
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

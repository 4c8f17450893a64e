// Page calls: every text of script the native side evaluates in the page, and the escaping
// rules for text placed between single quotes. Nothing else in the program concatenates page
// calls; everything goes through these builders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The full rule: \ -> \\, ' -> \', LF -> \n, CR removed, in that order.
std::string escapeForJS(std::string_view text);
// Usage text at page load: \ and ' escaped, then every LF and every CR removed.
std::string escapeUsageForJS(std::string_view text);
// Edit-recording JSON text: \ and ' escaped only.
std::string escapeBackslashesAndApostrophes(std::string_view text);

namespace page {

// The bridge shim: installed as a document-start user script in every frame.
const std::string& bridgeShim();

std::string applyTheme(bool dark);
std::string injectUsageData(std::string_view usageText);
std::string injectHistory(std::string_view historyText);
std::string updateUsageFromInjectedData();
// The polished text; with a reason, the page says the text is not polished and why.
std::string updateResult(std::string_view raw, std::string_view polished, std::string_view mode,
                         std::optional<std::string_view> notPolishedReason = std::nullopt);
// With a request id the answer resolves only the edit request of that id.
std::string resolveLlmEditResult(std::string_view edited,
                                 std::optional<int64_t> requestId = std::nullopt);
std::string resolveLlmEditError(std::string_view error,
                                std::optional<int64_t> requestId = std::nullopt);
// Fresh usage statistics for the dashboard: the injected text and the page's redraw.
std::string refreshUsage(std::string_view usageText);
// Tells the page that its history could not be written to disk.
std::string historyNotSaved();
std::string setEditInstruction(std::string_view instructionSoFar);
std::string resolveEditRecord(std::string_view jsonText);
std::string setLanguage(std::string_view languageCode);
// "if(state==='recording') toggleState();" when onlyIfRecording, else "toggleState();".
std::string toggleState(bool onlyIfRecording);
std::string showRawAndStartPolish(std::string_view raw, std::string_view mode);
const std::string& noSpeechReset();
// Puts the page back at rest after a recording that failed (the reason went out as an error).
const std::string& recordingAbandoned();
std::string speechResultEvent(std::string_view transcriptSoFar);
std::string nativeError(std::string_view message);

}  // namespace page
}  // namespace quorvel

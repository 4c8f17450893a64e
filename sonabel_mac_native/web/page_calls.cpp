#include "web/page_calls.h"

#include <string>
#include <string_view>

namespace quorvel {
namespace {

// Every rule is a chain of replace-all steps. Only the first step (backslashes) could see what
// another step writes, and it runs first, so one pass that maps each character gives the same
// text as running the steps one after another.
enum Step : unsigned {
  kBackslash = 1u << 0,
  kApostrophe = 1u << 1,
  kLineFeedAsEscape = 1u << 2,
  kLineFeedRemoved = 1u << 3,
  kCarriageReturnRemoved = 1u << 4,
};

std::string escapeWith(std::string_view text, unsigned steps) {
  std::string out;
  out.reserve(text.size() + text.size() / 8 + 8);
  for (char c : text) {
    switch (c) {
      case '\\':
        out += (steps & kBackslash) ? "\\\\" : "\\";
        break;
      case '\'':
        out += (steps & kApostrophe) ? "\\'" : "'";
        break;
      case '\n':
        if (steps & kLineFeedAsEscape) {
          out += "\\n";
        } else if (!(steps & kLineFeedRemoved)) {
          out += '\n';
        }
        break;
      case '\r':
        if (!(steps & kCarriageReturnRemoved)) out += '\r';
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Text bound for a single-quoted literal of a page call.
std::string quoted(std::string_view text) {
  return escapeForJS(text);
}

}  // namespace

std::string escapeForJS(std::string_view text) {
  return escapeWith(text, kBackslash | kApostrophe | kLineFeedAsEscape | kCarriageReturnRemoved);
}

std::string escapeUsageForJS(std::string_view text) {
  return escapeWith(text, kBackslash | kApostrophe | kLineFeedRemoved | kCarriageReturnRemoved);
}

std::string escapeBackslashesAndApostrophes(std::string_view text) {
  return escapeWith(text, kBackslash | kApostrophe);
}

namespace page {

std::string applyTheme(bool dark) {
  return dark ? "document.documentElement.classList.add('dark');"
              : "document.documentElement.classList.remove('dark');";
}

std::string injectUsageData(std::string_view usageText) {
  return "window._nativeUsageData = '" + escapeUsageForJS(usageText) + "';";
}

std::string injectHistory(std::string_view historyText) {
  return "try { history = JSON.parse('" + quoted(historyText) +
         "'); renderHistory(); } catch(e) { console.error('history load error', e); }";
}

std::string updateUsageFromInjectedData() {
  return "try { if(window._nativeUsageData) { updateUsage(JSON.parse(window._nativeUsageData)); } "
         "} catch(e) {}";
}

// The mode is a name from the page's own message; it is escaped like any other text so that a
// mode holding a quote or a line break cannot end the literal early and run as script.
std::string updateResult(std::string_view raw, std::string_view polished, std::string_view mode,
                         std::optional<std::string_view> notPolishedReason) {
  std::string reason = notPolishedReason ? ", '" + quoted(*notPolishedReason) + "'" : "";
  return "updateResult('" + quoted(raw) + "', '" + quoted(polished) + "', '" + quoted(mode) + "'" +
         reason + ");";
}

namespace {

std::string resolveLlmEdit(const std::string& member, std::optional<int64_t> requestId) {
  std::string test = "window._llmEditResolve";
  if (requestId) test += " && window._llmEditRequest === " + std::to_string(*requestId);
  return "if(" + test + ") { window._llmEditResolve(JSON.stringify({" + member +
         "'})); window._llmEditResolve = null; }";
}

}  // namespace

std::string resolveLlmEditResult(std::string_view edited, std::optional<int64_t> requestId) {
  return resolveLlmEdit("result: '" + quoted(edited), requestId);
}

// Error descriptions come from the network stack and may hold backslashes or line breaks; the
// full rule keeps every one of them a valid literal.
std::string resolveLlmEditError(std::string_view error, std::optional<int64_t> requestId) {
  return resolveLlmEdit("error: '" + quoted(error), requestId);
}

std::string refreshUsage(std::string_view usageText) {
  return injectUsageData(usageText) + " " + updateUsageFromInjectedData();
}

std::string historyNotSaved() {
  return "if(typeof historyNotSaved==='function'){historyNotSaved();}";
}

std::string setEditInstruction(std::string_view instructionSoFar) {
  return "document.getElementById('editInstruction').value = '" + quoted(instructionSoFar) + "';";
}

std::string resolveEditRecord(std::string_view jsonText) {
  return "if(window._editRecordResolve) { window._editRecordResolve('" +
         escapeBackslashesAndApostrophes(jsonText) + "'); window._editRecordResolve = null; }";
}

std::string setLanguage(std::string_view languageCode) {
  return "setLanguage('" + quoted(languageCode) + "')";
}

std::string toggleState(bool onlyIfRecording) {
  return onlyIfRecording ? "if(state==='recording') toggleState();" : "toggleState();";
}

std::string showRawAndStartPolish(std::string_view raw, std::string_view mode) {
  return "if(typeof showRawAndStartPolish==='function'){showRawAndStartPolish('" + quoted(raw) +
         "','" + quoted(mode) + "');}";
}

const std::string& noSpeechReset() {
  static const std::string script =
      "    clearInterval(recordingTimer);\n"
      "    recordingTimer = null;\n"
      "    clearInterval(_progressInterval);\n"
      "    document.getElementById('processing').classList.remove('show');\n"
      "    document.getElementById('rawText').textContent = '';\n"
      "    document.getElementById('resultText').textContent = '';\n"
      "    document.getElementById('footerStatus').textContent = _('error_no_speech');\n"
      "    document.getElementById('recordBtn').disabled = false;\n"
      "    document.getElementById('recordBtn').classList.remove('recording');\n"
      "    document.getElementById('recordLabel').textContent = _('btn_record');\n"
      "    state = 'idle';";
  return script;
}

const std::string& recordingAbandoned() {
  static const std::string script =
      "if(typeof restoreRecordButton==='function'){endProgress();restoreRecordButton();"
      "setStatus('status_ready');}";
  return script;
}

std::string speechResultEvent(std::string_view transcriptSoFar) {
  return "window.dispatchEvent(new CustomEvent('speech_result', {detail: '" +
         quoted(transcriptSoFar) + "'}))";
}

std::string nativeError(std::string_view message) {
  const std::string escaped = quoted(message);
  return "console.error('[Native] " + escaped + "'); alert('" + escaped + "');";
}

}  // namespace page
}  // namespace quorvel

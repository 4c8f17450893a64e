// The product page in WebKitGTK, driven the way the user and the native side drive it. Each test
// is a table of steps: a script (page calls, clicks, keys), then an expression over the page and
// `sent` (the messages the page posted so far) and the JSON value it must come to.
#include <gtest/gtest.h>

#include "web/harness.h"
#include "web/page_calls.h"

namespace quorvel::testing {
namespace {

using nlohmann::json;

struct Step {
  std::string act, check, want;
};

class UiPage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(page.load());
    page.value("localStorage.clear()");  // what an earlier test chose
    ASSERT_TRUE(page.load());
  }
  // "reload" as the script loads the page again.
  void play(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      SCOPED_TRACE(step.act + "\n" + step.check);
      ASSERT_TRUE(step.act == "reload" ? page.load() : (page.value(step.act), true));
      // Messages reach the native side before the answer to the script that posted them.
      EXPECT_EQ(page.value("(sent => (" + step.check + "))(" + json(page.messages).dump() + ")"),
                json::parse(step.want));
    }
  }
  PageHarness page;
};

// A dictation from the record button to its result and history entry; then the native side puts
// the page back at rest after nothing was said, after a start that failed (the page is still
// recording) and after a dictation that failed while processing.
TEST_F(UiPage, the_record_button_runs_a_dictation_and_reset_calls_put_the_page_at_rest) {
  // A family emoji with joiners, a space and an e with two combining marks: three characters.
  const std::string raw = "\U0001F468\u200D\U0001F469 e\u0301\u0323", shown = json(raw).dump();
  const std::string idle =
      "[state, recordingTimer, processing.className, recordBtn.disabled, recordBtn.className, "
      "recordLabel.textContent, footerStatus.textContent, sent.length]";
  const std::string rest = R"(["idle", null, "", false, "", "Record", )";
  play({
      {"recordBtn.click()",
       "[state, recordBtn.className, recordingTimer > 0, editMicBtn.disabled, sent]",
       R"(["recording", "recording", true, true, [{"action": "start_recording"}]])"},
      {page::speechResultEvent("go forward ten") + ";" + page::toggleState(true),
       "[liveText.textContent, state, recordingTimer, sent[1]]",
       R"(["go forward ten", "processing", null, {"action": "stop_recording", "mode": "Extract"}])"},
      {page::showRawAndStartPolish(raw, "Extract"),
       "[rawText.textContent, rawCount.textContent, processing.className, recordBtn.disabled]",
       "[" + shown + R"(, "· 3 chars", "show", true])"},
      {page::updateResult(raw, "Go.", "Extract"),
       "[resultText.textContent, processing.className, state, recordBtn.disabled, "
       "recordLabel.textContent, JSON.parse(sent[2].data).map(e => [e.raw, e.polished, e.mode, "
       "typeof e.time])]",
       R"(["Go.", "", "idle", false, "Record", [[)" + shown + R"(, "Go.", "Extract", "number"]]])"},
      {page::toggleState(false) + page::speechResultEvent("uh") + ";" + page::toggleState(true) +
           page::noSpeechReset(),
       idle, rest + R"("No speech detected.", 5])"},
      {"recordBtn.click();" + page::recordingAbandoned(), idle, rest + R"("Ready.", 6])"},
      {"recordBtn.click();" + page::toggleState(true) + page::recordingAbandoned(), idle,
       rest + R"("Ready.", 8])"},
      {"recordBtn.click()", "state", R"("recording")"},
  });
}

TEST_F(UiPage, markup_in_a_transcript_shows_as_text_and_runs_nothing) {
  const std::string markup =
      "<img src=x onerror=\"window.owned=1\"><script>window.owned=2</script>";
  play({{page::toggleState(false) + page::toggleState(true) +
             page::showRawAndStartPolish("raw <b>bold</b>", "Extract") +
             page::updateResult("raw <b>bold</b>", markup, "Extract"),
         "[resultText.textContent, rawText.textContent, historyList.textContent.includes(" +
             json(markup).dump() +
             "), document.querySelectorAll('img, b, #resultText *').length, window.owned]",
         json::array({markup, "raw <b>bold</b>", true, 0, nullptr}).dump()}});
}

// The choices the user makes: the mode, kept and sent with stop and retry (a retry replaces its
// history entry), and the language, in which every text and every control's name is given.
TEST_F(UiPage, the_mode_is_kept_and_sent_and_both_languages_translate_and_name_every_control) {
  play({
      {"modeGroup.children[1].click()", "mode", R"("Verbatim")"},
      {"reload", "[mode, modeGroup.children[1].getAttribute('aria-checked')]",
       R"(["Verbatim", "true"])"},
      {page::toggleState(false) + page::toggleState(true) +
           page::showRawAndStartPolish("keep it", "Verbatim") +
           page::updateResult("keep it", "keep it", "Verbatim", "no connection") +
           page::historyNotSaved(),
       "[sent.at(-2), footerStatus.textContent]",
       R"([{"action": "stop_recording", "mode": "Verbatim"},
           "Not polished: no connection The history could not be saved."])"},
      {"retryBtn.click()", "[sent.at(-1), processing.className]",
       R"([{"action": "retry_polish", "raw": "keep it", "mode": "Verbatim"}, "show"])"},
      {page::updateResult("keep it", "Keep it.", "Verbatim"),
       "[resultText.textContent, footerStatus.textContent, history.length, history[0].polished]",
       R"(["Keep it.", "Done.", 1, "Keep it."])"},
      {page::setLanguage("zh"),
       "[recordLabel.textContent, _('error_no_speech'), document.documentElement.lang, "
       "Object.keys(I18N.en).filter(k => !(k in I18N.zh)).concat(Object.keys(I18N.zh).filter(k "
       "=> !(k in I18N.en))), Array.from(document.querySelectorAll('[data-i18n]')).filter(e => "
       "!e.textContent).length, Array.from(document.querySelectorAll('button, input')).filter(e "
       "=> !(e.getAttribute('aria-label') || e.textContent.trim() || e.labels?.length)).length]",
       R"(["开始录音", "未检测到语音。", "zh-CN", [], 0, 0])"},
  });
}

TEST_F(UiPage, stored_history_and_usage_show_and_entries_open_and_delete) {
  const std::string shown =
      "[document.documentElement.className, Array.from(historyList.querySelectorAll('.hist-text'), "
      "e => e.textContent), statTotal.textContent, statSessions.textContent, "
      "statMinutes.textContent, statMonth.textContent, usageChart.querySelectorAll('rect').length]";
  play({
      {page::applyTheme(true) +
           page::injectUsageData(
               R"({"chars_used": 1234, "total_chars": 5000, "total_sessions": 42})") +
           page::injectHistory(R"([{"raw": "it's"}, {"polished": "ok"}])") +
           page::updateUsageFromInjectedData(),
       shown, R"(["dark", ["it's", "ok"], "5,000", "42", "25", "1,234", 14])"},
      // Later figures, whose count is for an earlier month; a history that does not parse.
      {page::refreshUsage(R"({"chars_used": 77, "month_start": "2001-01-01", "total_chars": 6})") +
           page::applyTheme(false) + page::injectHistory("[{\"raw\": broken"),
       shown, R"(["", ["it's", "ok"], "6", "0", "0", "0", 14])"},
      {"history = [0, 1, 2].map(i => ({raw: 'raw ' + i, polished: 'text ' + i})); "
       "renderHistory(); $('tab-history').click(); historyList.children[2].firstChild.click()",
       "[rawText.textContent, resultText.textContent, $('panel-dictate').hidden]",
       R"(["raw 2", "text 2", false])"},
      {"historyList.children[0].lastChild.click()",
       "[history[0].raw, JSON.parse(sent.at(-1).data).length]", R"(["raw 1", 2])"},
  });
}

}  // namespace
}  // namespace quorvel::testing

// The product page in WebKitGTK, driven the way the native side drives it: page-load injection,
// a dictation from record to result, the no-speech reset, edit requests, history and usage.
#include <gtest/gtest.h>

#include <string>

#include "web/harness.h"
#include "web/page_calls.h"

namespace quorvel::test {
namespace {

using nlohmann::json;

class UiPage : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(page.loadBundlePage()); }

  json js(const std::string& expr) { return page.value(expr); }
  std::string text(const std::string& id) {
    return js("document.getElementById('" + id + "').textContent").get<std::string>();
  }
  void run(const std::string& script) {
    ScriptOutcome outcome = page.evaluate(script + "\n;undefined");
    ASSERT_TRUE(outcome.ok) << script << ": " << outcome.error;
  }
  void click(const std::string& selector) {
    run("document.querySelector(" + json(selector).dump() + ").click()");
  }
  // Messages the page posted with the given action, waiting until at least `count` arrived.
  std::vector<json> posted(const std::string& action, size_t count = 1) {
    std::vector<json> found;
    page.waitFor([&] {
      found.clear();
      for (const json& m : page.messages())
        if (m.value("action", "") == action) found.push_back(m);
      return found.size() >= count;
    });
    return found;
  }
  // One dictation up to the final result, as the recording controller would drive it.
  void dictate(const std::string& raw, const std::string& polished) {
    run(page::toggleState(false));
    run(page::speechResultEvent(raw));
    run(page::toggleState(true));
    run(page::showRawAndStartPolish(raw, "Extract"));
    run(page::updateResult(raw, polished, "Extract"));
  }

  PageHarness page;
};

TEST_F(UiPage, provides_every_name_the_native_side_relies_on) {
  for (const char* fn : {"showRawAndStartPolish", "updateResult", "updateUsage", "renderHistory",
                         "toggleState", "setLanguage", "_"}) {
    EXPECT_EQ(js(std::string("typeof ") + fn), "function") << fn;
  }
  EXPECT_EQ(js("state"), "idle");
  EXPECT_EQ(js("Array.isArray(history)"), true);
  for (const char* id : {"processing", "rawText", "resultText", "footerStatus", "recordBtn",
                         "recordLabel", "editInstruction"}) {
    EXPECT_EQ(js(std::string("!!document.getElementById('") + id + "')"), true) << id;
  }
  EXPECT_EQ(js("document.getElementById('editInstruction').value = 'x'; "
               "document.getElementById('editInstruction').value"),
            "x");
  EXPECT_TRUE(page.messages().empty()) << "the page posts nothing on its own at load";
}

TEST_F(UiPage, page_load_injection_brings_theme_usage_and_history_intact) {
  const std::string thisMonth = js("dayKey(new Date()).slice(0, 8) + '01'").get<std::string>();
  const std::string usage =
      "{\n  \"chars_used\" : 1234,\n  \"daily_stats\" : {\n    \"2026-12-06\" : {\n"
      "      \"chars\" : 300,\n      \"sessions\" : 3\n    }\n  },\n"
      "  \"month_start\" : \"" +
      thisMonth +
      "\",\n  \"total_chars\" : 5000,\n"
      "  \"total_sessions\" : 42\n}";
  const json history = json::array({{{"raw", "it's a \"test\"\nline two\\path"},
                                     {"polished", "It's C:\\temp\r\nok"},
                                     {"mode", "Extract"},
                                     {"time", 1765000000000}},
                                    {{"raw", "second"},
                                     {"polished", "Second 'quoted'"},
                                     {"mode", "Verbatim"},
                                     {"time", 1764000000000}}});
  run(page::applyTheme(true));
  run(page::injectUsageData(usage));
  run(page::injectHistory(history.dump(2)));
  run(page::updateUsageFromInjectedData());

  EXPECT_EQ(js("document.documentElement.classList.contains('dark')"), true);
  EXPECT_EQ(js("JSON.stringify(history)").get<std::string>(), history.dump());
  EXPECT_EQ(js("window._nativeUsageData.indexOf('\\n')"), -1);
  EXPECT_EQ(json::parse(js("window._nativeUsageData").get<std::string>()), json::parse(usage));
  EXPECT_EQ(js("Array.from(document.querySelectorAll('#historyList .hist-text'), e => "
               "e.textContent)"),
            json::array({"It's C:\\temp\r\nok", "Second 'quoted'"}));
  EXPECT_EQ(text("statTotal"), "5,000");
  EXPECT_EQ(text("statSessions"), "42");
  EXPECT_EQ(text("statMinutes"), "25");
  EXPECT_EQ(text("statMonth"), "1,234");
  EXPECT_EQ(js("document.querySelectorAll('#usageChart rect').length"), 14);
  // Figures refreshed later; a count kept for an earlier month is not this month's.
  run(page::refreshUsage(R"({"chars_used": 77, "month_start": "2001-01-01", "total_chars": 6})"));
  EXPECT_EQ(text("statMonth"), "0");
  EXPECT_EQ(text("statTotal"), "6");

  run(page::applyTheme(false));
  EXPECT_EQ(js("document.documentElement.classList.contains('dark')"), false);
  // A history text that does not parse leaves the page's own list alone.
  run(page::injectHistory("[{\"raw\": broken"));
  EXPECT_EQ(js("history.length"), 2);
}

TEST_F(UiPage, a_dictation_runs_from_record_press_to_result_and_history) {
  run(page::toggleState(false));
  EXPECT_EQ(js("state"), "recording");
  EXPECT_EQ(js("document.getElementById('recordBtn').classList.contains('recording')"), true);
  EXPECT_EQ(js("recordingTimer !== null"), true);
  ASSERT_EQ(posted("start_recording").size(), 1u);

  run(page::speechResultEvent("go forward ten"));
  EXPECT_EQ(text("liveText"), "go forward ten");

  run(page::toggleState(true));
  EXPECT_EQ(js("state"), "processing");
  EXPECT_EQ(js("recordingTimer"), nullptr);
  EXPECT_EQ(posted("stop_recording"),
            std::vector<json>{json({{"action", "stop_recording"}, {"mode", "Extract"}})});

  run(page::showRawAndStartPolish("go forward ten meters", "Extract"));
  EXPECT_EQ(text("rawText"), "go forward ten meters");
  EXPECT_EQ(js("document.getElementById('processing').classList.contains('show')"), true);
  EXPECT_EQ(js("document.getElementById('recordBtn').disabled"), true);

  run(page::updateResult("go forward ten meters", "Go forward 10 m.", "Extract"));
  EXPECT_EQ(text("rawText"), "go forward ten meters");
  EXPECT_EQ(text("resultText"), "Go forward 10 m.");
  EXPECT_EQ(js("document.getElementById('processing').classList.contains('show')"), false);
  EXPECT_EQ(js("state"), "idle");
  EXPECT_EQ(js("document.getElementById('recordBtn').disabled"), false);
  EXPECT_EQ(text("recordLabel"), js("_('btn_record')"));

  const std::vector<json> saves = posted("save_history");
  ASSERT_EQ(saves.size(), 1u);
  const json saved = json::parse(saves[0]["data"].get<std::string>());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0]["raw"], "go forward ten meters");
  EXPECT_EQ(saved[0]["polished"], "Go forward 10 m.");
  EXPECT_EQ(saved[0]["mode"], "Extract");
  EXPECT_TRUE(saved[0]["time"].is_number());
}

// The native side puts the page back at rest after nothing was said, after a start that
// failed (the page is still recording) and after a dictation that failed while processing.
TEST_F(UiPage, reset_calls_return_the_page_to_idle_with_their_message) {
  struct Case {
    std::string script;
    bool stopped;  // the page's own stop ran before the call
    std::string footer;
  };
  int starts = 0;
  for (const Case& c : {Case{page::noSpeechReset(), true, "No speech detected."},
                        Case{page::recordingAbandoned(), false, "Ready."},
                        Case{page::recordingAbandoned(), true, "Ready."}}) {
    SCOPED_TRACE(c.script);
    run(page::toggleState(false));
    ++starts;
    run(page::speechResultEvent("uh"));
    if (c.stopped) run(page::toggleState(true));
    ASSERT_EQ(js("state"), c.stopped ? "processing" : "recording");
    run(c.script);
    EXPECT_EQ(js("state"), "idle");
    EXPECT_EQ(js("recordingTimer"), nullptr);
    EXPECT_EQ(js("document.getElementById('processing').classList.contains('show')"), false);
    EXPECT_EQ(text("resultText"), "");
    EXPECT_EQ(text("footerStatus"), c.footer);
    EXPECT_EQ(js("document.getElementById('recordBtn').disabled"), false);
    EXPECT_EQ(js("document.getElementById('recordBtn').classList.contains('recording')"), false);
    EXPECT_EQ(text("recordLabel"), "Record");
    // The record button works again.
    click("#recordBtn");
    ++starts;
    EXPECT_EQ(posted("start_recording", starts).size(), static_cast<size_t>(starts));
    run(page::recordingAbandoned());
  }
}

TEST_F(UiPage, markup_in_a_polished_text_shows_as_text_and_runs_nothing) {
  const std::string markup =
      "<img src=x onerror=\"window.owned=1\"><script>window.owned=2</script>";
  dictate("raw <b>bold</b>", markup);
  EXPECT_EQ(text("resultText"), markup);
  EXPECT_EQ(text("rawText"), "raw <b>bold</b>");
  EXPECT_EQ(js("document.querySelectorAll('img, script:not(:first-of-type), b').length"), 0);
  EXPECT_EQ(js("document.getElementById('resultText').children.length"), 0);
  EXPECT_EQ(js("document.querySelector('#historyList .hist-text').textContent"), markup);
  page.settle();
  EXPECT_EQ(js("window.owned === undefined"), true);
}

TEST_F(UiPage, mode_choice_is_kept_and_sent_with_stop_and_retry) {
  click("[data-mode=Verbatim]");
  EXPECT_EQ(js("localStorage.getItem('quorvel.mode')"), "Verbatim");
  ASSERT_TRUE(page.loadBundlePage());
  EXPECT_EQ(js("document.querySelector('[data-mode=Verbatim]').getAttribute('aria-checked')"),
            "true");
  page.clearMessages();
  run(page::toggleState(false));
  run(page::toggleState(true));
  EXPECT_EQ(posted("stop_recording")[0]["mode"], "Verbatim");

  run(page::showRawAndStartPolish("keep it's", "Verbatim"));
  run(page::updateResult("keep it's", "keep it's", "Verbatim"));
  click("#retryBtn");
  EXPECT_EQ(posted("retry_polish"),
            std::vector<json>{
                json({{"action", "retry_polish"}, {"raw", "keep it's"}, {"mode", "Verbatim"}})});
  EXPECT_EQ(js("document.getElementById('processing').classList.contains('show')"), true);
  run(page::updateResult("keep it's", "Keep it.", "Verbatim"));
  EXPECT_EQ(text("resultText"), "Keep it.");
  EXPECT_EQ(js("history.length"), 1) << "a retry replaces its entry";
  EXPECT_EQ(js("history[0].polished"), "Keep it.");
}

TEST_F(UiPage, edit_section_applies_dictated_instructions_and_reports_errors) {
  dictate("send the report friday", "Send the report on Friday.");
  click("#editMicBtn");
  EXPECT_EQ(posted("start_edit_recording").size(), 1u);
  click("#editMicBtn");
  EXPECT_EQ(posted("stop_edit_recording").size(), 1u);
  run(page::resolveEditRecord(json({{"text", "make it 'formal' \\ polite"}}).dump()));
  ASSERT_TRUE(page.waitFor([&] {
    return js("document.getElementById('editInstruction').value") == "make it 'formal' \\ polite";
  }));

  click("#editApplyBtn");
  // Enter in the field obeys the same rule as the button: one request at a time.
  run("editInstruction.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter'}))");
  page.settle();
  EXPECT_EQ(posted("llm_edit"),
            std::vector<json>{json({{"action", "llm_edit"},
                                    {"text", "Send the report on Friday."},
                                    {"instruction", "make it 'formal' \\ polite"},
                                    {"request_id", 1}})});
  run(page::resolveLlmEditResult("Kindly send the report on Friday.", 1));
  ASSERT_TRUE(
      page.waitFor([&] { return text("resultText") == "Kindly send the report on Friday."; }));
  EXPECT_EQ(js("history[0].polished"), "Kindly send the report on Friday.");

  click("#editApplyBtn");
  posted("llm_edit", 2);
  run(page::resolveLlmEditError("The server can't be reached:\n\\\\host"));
  ASSERT_TRUE(page.waitFor([&] {
    return text("footerStatus") == "Edit failed: The server can't be reached:\n\\\\host";
  }));
  EXPECT_EQ(text("resultText"), "Kindly send the report on Friday.");

  run(page::resolveEditRecord("{\"error\":\"No speech detected\"}"));  // no pending promise
  click("#editMicBtn");
  click("#editMicBtn");
  run(page::resolveEditRecord("{\"error\":\"No speech detected\"}"));
  EXPECT_TRUE(
      page.waitFor([&] { return text("footerStatus") == "Edit failed: No speech detected"; }));
}

TEST_F(UiPage, a_failed_polish_and_an_unsaved_history_say_so_and_retry_stays_possible) {
  run(page::showRawAndStartPolish("raw words", "Extract"));
  run(page::updateResult("raw words", "raw words", "Extract", "no connection"));
  EXPECT_EQ(text("resultText"), "raw words");
  EXPECT_EQ(text("footerStatus"), "Not polished: no connection");
  EXPECT_EQ(js("footerStatus.classList.contains('error')"), true);
  EXPECT_EQ(js("retryBtn.disabled"), false);
  run(page::historyNotSaved());
  EXPECT_EQ(text("footerStatus"), "Not polished: no connection The history could not be saved.");
  run(page::updateResult("raw words", "Raw words.", "Extract"));
  EXPECT_EQ(text("footerStatus"), "Done.");
}

TEST_F(UiPage, one_capture_at_a_time_the_other_control_is_off) {
  run(page::toggleState(false));
  EXPECT_EQ(js("editMicBtn.disabled"), true);
  click("#editMicBtn");
  run(page::toggleState(true));
  EXPECT_EQ(js("editMicBtn.disabled"), false);
  run(page::noSpeechReset());
  click("#editMicBtn");
  EXPECT_EQ(js("recordBtn.disabled"), true);
  run(page::toggleState(false));  // F6 while the instruction has the microphone
  click("#editMicBtn");
  EXPECT_EQ(js("recordBtn.disabled"), false);
  page.settle();
  std::vector<std::string> actions;
  for (const json& m : page.messages()) actions.push_back(m.value("action", ""));
  EXPECT_EQ(actions, (std::vector<std::string>{"start_recording", "stop_recording",
                                               "start_edit_recording", "stop_edit_recording"}));
}

TEST_F(UiPage, history_entries_show_again_delete_and_stay_capped) {
  json many = json::array();
  for (int i = 0; i < 200; ++i) {
    many.push_back({{"raw", "raw " + std::to_string(i)},
                    {"polished", "text " + std::to_string(i)},
                    {"mode", "Extract"},
                    {"time", 1765000000000 - i * 60000}});
  }
  run(page::injectHistory(many.dump()));
  EXPECT_EQ(js("document.querySelectorAll('#historyList li').length"), 200);

  click("#tab-history");
  click("#historyList li:nth-child(3) .hist-open");
  EXPECT_EQ(text("rawText"), "raw 2");
  EXPECT_EQ(text("resultText"), "text 2");
  EXPECT_EQ(js("document.getElementById('panel-dictate').hidden"), false);

  click("#historyList li:nth-child(1) .icon-btn");
  EXPECT_EQ(js("history.length"), 199);
  EXPECT_EQ(js("history[0].raw"), "raw 1");
  EXPECT_EQ(json::parse(posted("save_history")[0]["data"].get<std::string>()).size(), 199u);

  dictate("newest", "Newest.");
  dictate("newer still", "Newer still.");
  EXPECT_EQ(js("history.length"), 200);
  EXPECT_EQ(js("history[0].raw"), "newer still");
  EXPECT_EQ(js("history[199].raw"), "raw 198");
}

TEST_F(UiPage, both_languages_translate_every_text) {
  EXPECT_EQ(js("Object.keys(I18N.en).filter(k => !(k in I18N.zh))"), json::array());
  EXPECT_EQ(js("Object.keys(I18N.zh).filter(k => !(k in I18N.en))"), json::array());
  run(page::setLanguage("zh"));
  EXPECT_EQ(js("_('btn_record')"), "开始录音");
  EXPECT_EQ(js("_('error_no_speech')"), "未检测到语音。");
  EXPECT_EQ(text("recordLabel"), "开始录音");
  EXPECT_EQ(js("document.documentElement.lang"), "zh-CN");
  EXPECT_EQ(js("Array.from(document.querySelectorAll('[data-i18n]')).filter(e => "
               "!e.textContent).length"),
            0);
  run(page::setLanguage("en"));
  EXPECT_EQ(text("recordLabel"), "Record");
  EXPECT_EQ(js("_('error_no_speech')"), "No speech detected.");
}

TEST_F(UiPage, character_counts_are_user_perceived_characters) {
  // A family emoji with joiners and an e with two combining marks: two characters.
  dictate(
      "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"
      "e\xCC\x81\xCC\xA3",
      "ok");
  EXPECT_EQ(text("rawCount"), "\xC2\xB7 2 chars");
}

TEST_F(UiPage, every_control_has_an_accessible_name_and_keys_move_choices) {
  EXPECT_EQ(js("Array.from(document.querySelectorAll('button, input')).filter(e => "
               "!(e.getAttribute('aria-label') || e.textContent.trim() || (e.labels && "
               "e.labels.length))).map(e => e.id || e.className)"),
            json::array());
  run("document.querySelector('[data-mode=Extract]').focus(); "
      "document.activeElement.dispatchEvent(new KeyboardEvent('keydown', {key: 'ArrowRight', "
      "bubbles: true}))");
  EXPECT_EQ(js("document.activeElement.dataset.mode"), "Verbatim");
  EXPECT_EQ(js("mode"), "Verbatim");
  run("document.getElementById('tab-dictate').focus(); "
      "document.activeElement.dispatchEvent(new KeyboardEvent('keydown', {key: 'End', "
      "bubbles: true}))");
  EXPECT_EQ(js("document.getElementById('panel-usage').hidden"), false);
  EXPECT_EQ(js("document.getElementById('panel-dictate').hidden"), true);
}

TEST_F(UiPage, copy_buttons_put_their_text_on_the_clipboard) {
  dictate("raw words", "Polished \"words\" it's");
  const json box =
      js("(function () { var r = document.getElementById('copyResultBtn')"
         ".getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()");
  page.clickAt(box[0].get<double>(), box[1].get<double>());
  EXPECT_TRUE(page.waitFor([&] { return text("footerStatus") == "Copied to the clipboard."; }))
      << text("footerStatus");
  EXPECT_EQ(page.clipboardText(), "Polished \"words\" it's");
}

// Screenshots of each theme and language, with a result, history and usage on screen, written to
// <build>/screenshots/ for people to look at.
class UiScreenshots : public UiPage,
                      public ::testing::WithParamInterface<std::tuple<bool, std::string>> {};

TEST_P(UiScreenshots, renders_the_popover_size_in_each_theme_and_language) {
  const auto [dark, language] = GetParam();
  const std::string usage =
      "{\"chars_used\": 3180, \"total_chars\": 12873, \"total_sessions\": 64, \"daily_stats\": {}}";
  const std::string name = std::string("ui-") + (dark ? "dark" : "light") + "-" + language;
  const std::string dir = screenshotDir();
  run(page::applyTheme(dark));
  run(page::setLanguage(language));
  page.settle();
  ASSERT_TRUE(page.snapshot(dir + "/" + name + "-first-run.png").has_value());
  run(page::injectUsageData(usage));
  // Fill the last 14 days relative to the page's own clock.
  run("(function () { var u = JSON.parse(window._nativeUsageData); var d = new Date(); "
      "var chars = [120, 0, 340, 560, 210, 0, 0, 430, 880, 390, 150, 620, 710, 300]; "
      "for (var i = 0; i < 14; i++) { var day = new Date(d.getFullYear(), d.getMonth(), "
      "d.getDate() - 13 + i); if (chars[i]) u.daily_stats[dayKey(day)] = {chars: chars[i], "
      "sessions: 1 + i % 3}; } window._nativeUsageData = JSON.stringify(u); })()");
  run(page::updateUsageFromInjectedData());
  run(page::setLanguage(language));
  const bool zh = language == "zh";
  const std::string raw =
      zh ? "嗯，那个，我们下周二开会吧，不对，是下周三下午三点，地点还是在三楼会议室，记得带上季度"
           "报告。"
         : "so um I think we should meet next Tuesday, no wait, Wednesday at three, in the usual "
           "room, and everyone should bring the quarterly numbers";
  const std::string polished =
      zh ? "- 会议改到下周三下午三点\n- 地点：三楼会议室\n- 请带上季度报告"
         : "- Meeting moved to Wednesday at 3 pm\n- Usual room\n- Bring the quarterly numbers";
  dictate(zh ? "提醒我给妈妈打电话" : "remind me to call mom tonight",
          zh ? "提醒：给妈妈打电话" : "Call Mom tonight.");
  dictate(raw, polished);
  run("document.getElementById('editInstruction').value = " +
      json(zh ? "语气再正式一点" : "make it a bit more formal").dump());

  for (const char* tab : {"dictate", "history", "usage"}) {
    click(std::string("#tab-") + tab);
    run("document.activeElement.blur()");
    page.settle();
    const auto size = page.snapshot(dir + "/" + name + "-" + tab + ".png");
    ASSERT_TRUE(size.has_value()) << tab;
    EXPECT_EQ(*size, std::make_pair(440, 420)) << tab;
  }
  click("#tab-dictate");
  run(page::toggleState(false));
  run(page::speechResultEvent(zh ? "下周三下午三点开会，地点还是" : "let's meet on Wednesday at"));
  run("document.activeElement.blur()");
  page.settle();
  ASSERT_TRUE(page.snapshot(dir + "/" + name + "-recording.png").has_value());
  const std::string background = js("getComputedStyle(document.body).backgroundColor");
  EXPECT_EQ(background, dark ? "rgb(21, 23, 27)" : "rgb(244, 245, 248)");
  EXPECT_EQ(text("recordLabel"), zh ? "停止" : "Stop");
}

INSTANTIATE_TEST_SUITE_P(
    ThemesAndLanguages, UiScreenshots,
    ::testing::Combine(::testing::Bool(), ::testing::Values(std::string("en"), std::string("zh"))),
    [](const auto& info) {
      return std::string(std::get<0>(info.param) ? "dark_" : "light_") + std::get<1>(info.param);
    });

}  // namespace
}  // namespace quorvel::test

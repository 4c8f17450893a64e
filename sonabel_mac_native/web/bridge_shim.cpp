#include <string>

#include "web/page_calls.h"

namespace quorvel::page {

// Runs before any page script in every frame. Each entry builds a fresh message so the page can
// never alter one already posted; promises store their resolver before posting, so an answer that
// arrives at once still finds it. ui.html calls seven of the seventeen entries; the others are
// part of the bridge's fixed contract with the page and stay, posting or answering as they do.
const std::string& bridgeShim() {
  static const std::string shim = R"JS((function () {
  'use strict';
  function post(message) {
    window.webkit.messageHandlers.pywebview.postMessage(message);
  }
  function dashboardText(u) {
    if (!u) {
      return JSON.stringify({total_chars: 0, total_sessions: 0, minutes_saved: 0,
                             monthly_chars: 0, daily_stats: {}});
    }
    var totalChars = u.total_chars || u.chars_used || 0;
    var words = totalChars / 5;
    var minutesSaved = Math.round(words / 40 * 10) / 10;
    return JSON.stringify({
      total_chars: totalChars,
      total_sessions: u.total_sessions || 0,
      minutes_saved: minutesSaved,
      monthly_chars: u.chars_used || 0,
      daily_stats: u.daily_stats || {}
    });
  }
  window._editRecordResolve = null;
  window._llmEditResolve = null;
  window._llmEditRequest = 0;
  window.pywebview = {
    api: {
      start_recording: function () {
        post({action: 'start_recording'});
      },
      stop_recording: function (mode) {
        post({action: 'stop_recording', mode: mode || ''});
      },
      process_with_ai: function (txt) {
        post({action: 'process_with_ai', text: txt});
      },
      update_mask: function (v) {},
      update_status_icon: function (v) {},
      hide_panel: function () {},
      get_api_key: function (cb) {
        if (cb) cb('');
      },
      save_api_key: function (key, cb) {
        if (cb) cb(JSON.stringify({ok: true}));
      },
      get_usage: function (cb) {
        var text = window._nativeUsageData ? window._nativeUsageData
                                           : JSON.stringify({chars_used: 0});
        if (cb) cb(text);
        return text;
      },
      get_dashboard_data: function (cb) {
        var u = null;
        if (window._nativeUsageData) {
          try {
            u = JSON.parse(window._nativeUsageData);
          } catch (e) {
            u = null;
          }
          if (typeof u !== 'object') u = null;
        }
        var text = dashboardText(u);
        if (cb) cb(text);
        return text;
      },
      save_history: function (data) {
        post({action: 'save_history', data: data});
      },
      set_fre_seen: function () {},
      set_ui_language: function (lang) {},
      start_edit_recording: function () {
        post({action: 'start_edit_recording'});
      },
      stop_edit_recording: function () {
        return new Promise(function (resolve) {
          window._editRecordResolve = resolve;
          post({action: 'stop_edit_recording'});
        });
      },
      retry_polish: function (raw, mode) {
        post({action: 'retry_polish', raw: raw, mode: mode});
      },
      llm_edit: function (text, instruction) {
        return new Promise(function (resolve) {
          var id = window._llmEditRequest + 1;
          window._llmEditRequest = id;
          window._llmEditResolve = resolve;
          post({action: 'llm_edit', text: text, instruction: instruction, request_id: id});
        });
      }
    }
  };
})();
)JS";
  return shim;
}

}  // namespace quorvel::page

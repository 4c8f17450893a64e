// The page's messages to the recording controller.
#include "speech/engine_harness.h"

ENGINE_SCENES(
    MessageDispatch,
    {"stop_recording_takes_the_mode_or_extract",
     "start | final hi | stop | advance 3 | page showRawAndStartPolish('hi','Extract') | start | "
     "final hi | send {\"action\":\"stop_recording\",\"mode\":7} | advance 3 | page "
     "showRawAndStartPolish('hi','Extract') | start | final hi | send "
     "{\"action\":\"stop_recording\",\"mode\":\"\"} | advance 3 | page updateResult('hi', 'hi', "
     "''); | sent 2"},
    {"save_history_stores_only_string_data_exactly_and_survives_a_full_disk",
     "send {\"action\":\"save_history\",\"data\":[]} | send {\"action\":\"save_history\"} | "
     "history none | send {\"action\":\"save_history\",\"data\":\" [{\\\"raw\\\":\\\"it's\\\"}] "
     "\"} | history  [{\"raw\":\"it's\"}]  | diskfull | send "
     "{\"action\":\"save_history\",\"data\":\"[]\"} | history  [{\"raw\":\"it's\"}]  | page "
     "historyNotSaved"},
    {"messages_without_a_string_action_are_ignored_silently",
     "send {\"action\":5} | send {\"mode\":\"Extract\"} | send [\"start_recording\"] | send "
     "\"start_recording\" | send {\"action\":\"Start_Recording\"} | send "
     "{\"action\":\"process_with_ai\",\"text\":\"x\"} | state idle | quiet"},
    {"retry_polish_answers_on_the_main_queue_counts_nothing_and_falls_back_to_the_raw_text",
     "send {\"action\":\"retry_polish\",\"raw\":\"as said\",\"mode\":\"Extract\"} | body as said | "
     "reply! As said. | quiet | run | page =updateResult('as said', 'As said.', 'Extract'); | "
     "usage 0 0 | send {\"action\":\"retry_polish\",\"raw\":\"as is\",\"mode\":\"\"} | sent 1 | "
     "page =updateResult('as is', 'as is', ''); | send {\"action\":\"retry_polish\",\"raw\":3} | "
     "httpfail offline | page =updateResult('', '', 'Extract', 'no connection'); | send "
     "{\"action\":\"retry_polish\",\"raw\":\"late\",\"mode\":\"Extract\"} | gone | reply Late. | "
     "quiet"},
    {"llm_edit_asks_with_text_and_instruction_and_resolves_with_the_result_or_a_readable_error",
     "send {\"action\":\"llm_edit\",\"text\":\"t\",\"instruction\":\"i\"} | body "
     "Text:\\nt\\n\\nInstruction: i | reply! edited | quiet | run | page "
     "_llmEditResolve(JSON.stringify({result: 'edited'})) | send {\"action\":\"llm_edit\"} | "
     "httpfail couldn't connect | page error: 'no connection' | send {\"action\":\"llm_edit\"} | "
     "httpreply 200 {\"choices\": []} | page error: 'the reply could not be used'"},
    {"an_edit_answer_resolves_only_the_request_that_asked_for_it",
     "send {\"action\":\"llm_edit\",\"text\":\"a\",\"instruction\":\"i\",\"request_id\":1} | send "
     "{\"action\":\"llm_edit\",\"text\":\"b\",\"instruction\":\"i\",\"request_id\":2} | "
     "reply one | reply two | page Request === 1) { window._llmEditResolve(JSON.stringify({result: "
     "'one' | page Request === 2) { window._llmEditResolve(JSON.stringify({result: 'two'"},
    {"an_edit_answer_after_the_controller_is_gone_shows_nothing",
     "send {\"action\":\"llm_edit\",\"text\":\"t\",\"instruction\":\"i\"} | gone | reply edited | "
     "quiet"});

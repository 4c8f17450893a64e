// A test-only window into the running program, off unless QUORVEL_TEST_PROBE=1 is set in the
// environment: the D-Bus object /app/quorvel/TestProbe (interface app.quorvel.TestProbe) on the
// session bus connection the tray item uses, with Eval(s script) -> (s json) evaluating the
// script in the page and answering its value as JSON (or an error), PopoverShown() -> (b), and
// ClosePopover() hiding the popover or window as its close button does.
//
// Implements: the three methods above. Missing: anything that changes the program's state other
// than through the page's own script.
#pragma once

#include <functional>
#include <memory>

namespace quorvel {

class WebKitPageView;

// True when the environment asks for the probe.
bool testProbeRequested();
// Exports the probe; the view and the popover query live for the whole process.
void installTestProbe(std::shared_ptr<WebKitPageView> view, std::function<bool()> popoverShown,
                      std::function<void()> closePopover);

}  // namespace quorvel

#pragma once
// The one question the settings dialog asks before edits the user typed and
// did not apply would be lost (the dialog is closed, another record is
// chosen): apply them, drop them, or stay. Modal; GUI thread only.
#include <cstdint>

class QWidget;

namespace qm::core {
struct CoreContext;
}

namespace qm::windows::qt {

enum class EditsAnswer : uint8_t { Apply, Discard, Cancel };

// The box is named "UnappliedEdits" and its buttons "apply", "discard" and
// "cancel"; closing it without a choice is Cancel.
EditsAnswer AskAboutEdits(const core::CoreContext& core, QWidget* parent);

}  // namespace qm::windows::qt

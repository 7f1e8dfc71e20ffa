#pragma once

#include <string>

class QLabel;

// The update object for one status-bar pane: an update handler enables the
// pane and sets its text. Unchanged values touch nothing, so an idle update
// repaints only what has changed.
class CCmdUI {
public:
    CCmdUI(int id, QLabel& pane) : m_nID(id), m_pane(pane) {}
    CCmdUI(const CCmdUI&) = delete;
    CCmdUI& operator=(const CCmdUI&) = delete;

    void Enable(bool on);
    // UTF-8 text.
    void SetText(const std::string& text);

    const int m_nID;  // the pane's indicator id

private:
    QLabel& m_pane;   // the pane, owned by the status bar
};

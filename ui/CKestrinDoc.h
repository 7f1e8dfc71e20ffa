#pragma once

#include <string>

class CCmdUI;
class CKestrinApp;

// The document: it holds no data, loads and stores nothing, and carries the
// update handlers of the two status-bar panes of the program's own.
class CKestrinDoc {
public:
    explicit CKestrinDoc(CKestrinApp& app);
    CKestrinDoc(const CKestrinDoc&) = delete;
    CKestrinDoc& operator=(const CKestrinDoc&) = delete;

    // "&Neu": nothing to clear; the document is untitled again.
    bool OnNewDocument();
    // "Öffnen...": the file must be readable; nothing is read from it.
    bool OnOpenDocument(const std::string& path);
    // "&Speichern": writes the document, which is empty, to the file.
    bool OnSaveDocument(const std::string& path);

    // Pane 111: "Socket %d ready" with the listener's port (0 without a hub).
    void OnUpdateSocketPane(CCmdUI& ui);
    // Pane 112: the hub's status text (empty without a hub).
    void OnUpdateIsdnPane(CCmdUI& ui);

    std::string m_strPathName;  // the file last opened or saved; empty when untitled

private:
    CKestrinApp& m_app;  // the application, for its hub; not owned
};

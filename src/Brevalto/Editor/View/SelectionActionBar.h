#pragma once

#include "Editor/View/EditorControls.h"

namespace brevalto {

class ScreenshotEditorView;

// The commands on the selected area, shown in the toolbar in place of the tool palette while a
// selection exists: crop, copy, zoom to it, recognise its text, blur its text lines, erase it,
// redact it, or drop it.
class SelectionActionBar : public EditorControlRow {
    Q_OBJECT
public:
    explicit SelectionActionBar(ScreenshotEditorView& view, QWidget* parent = nullptr);
};

}  // namespace brevalto

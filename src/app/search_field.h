#pragma once
// The header's search field: a real edit control (so that input methods work) over the painted field,
// and what its text does to the catalogue page.
#include <windows.h>

#include <string>

#include "model/app_state.h"

constexpr int kSearchEditId = 101;
constexpr int kSearchTextLimit = 64;

// Makes the field's edit control once (the window asks for it after its first frame, or a focus that
// comes first does), hidden until the field is used; the edit made before when there is one.
HWND createSearchEdit(HWND main);
// Keeps the edit inside the painted field of a client w pixels wide, at the window's scale.
void placeSearchEdit(int w);

// The field's text is now text: the query (without the spaces around it), its results and the page
// follow. A new query shows its results from the top, on the catalogue page. False when the query
// stayed the same.
bool applySearchText(AppState& app, const std::wstring& text);
// The catalogue was replaced: a shown query is looked up again in the new one.
void searchAgainInNewCatalogue(AppState& app);
// Builds the index of catalogue.apps unless it is already the index of this catalogue generation.
void ensureSearchIndex(AppState& app);

enum class FieldCaret { AtEnd, SelectAll };
// Shows the edit and puts the caret in it: a click on the field, Ctrl+F.
void focusSearchField(FieldCaret caret);
enum class AfterClear { KeepCaret, LeaveField };
// Empties the field; LeaveField also takes the caret out of it, so the placeholder shows again.
void clearSearchField(AfterClear after);

// Ctrl+F, for the key of a WM_KEYDOWN being handled.
bool isFindShortcut(WPARAM key);

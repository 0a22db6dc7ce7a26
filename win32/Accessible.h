// What a screen reader reads of the controls whose standard accessible object says too little:
// a name, a role, a description or a value given by the window, answered through WM_GETOBJECT
// over the standard object, which keeps the rest (children, states, places, actions).
#pragma once

#include <functional>
#include <string>

#include "WinApi.h"

namespace tavrin {

struct AccessibleText {
  // Each null or empty field leaves the standard object's answer.
  LONG role = 0;  // ROLE_SYSTEM_...
  std::function<std::wstring()> name;
  std::wstring description;
  std::function<std::wstring()> value;
  // The role of each part the control draws itself (1 for the first), 0 for the standard one's.
  std::function<LONG(LONG part)> partRole;
};

// From now on, the control's accessible object (OBJID_CLIENT) answers with text; once for each
// control.
void SetAccessibleText(HWND control, AccessibleText text);
// A role and a name that never change, and a description where the name is not enough.
void SetAccessibleText(HWND control, LONG role, std::wstring name, std::wstring description = {});
// Tells screen readers that the control's value changed, so that they read it again.
void AnnounceValueChange(HWND control);

}  // namespace tavrin

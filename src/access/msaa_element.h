#pragma once
// The window's accessibility tree as IAccessible objects (Microsoft Active Accessibility): one object per
// node, named by the node's id, that reads the newest published tree on every call.
#include <windows.h>
#include <oleacc.h>

#include <memory>
#include <string>

#include "access/access_source.h"

// The object of the node with this id (the client area: L"client"), with one reference for the caller.
IAccessible* newAccessibleElement(std::shared_ptr<AccessSource> source, const std::wstring& id);

// The MSAA role and state bits of a node.
long msaaRole(AccessRole role);
long msaaState(uint32_t states);

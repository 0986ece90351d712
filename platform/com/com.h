// Everything of the COM / OLE Automation stand-in in one include.
#pragma once

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/com/dispatch_object.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/initialise.h"
#include "platform/com/ole_types.h"
#include "platform/com/record_info.h"
#include "platform/com/registry.h"
#include "platform/com/safearray.h"
#include "platform/com/task_memory.h"
#include "platform/com/typeinfo.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

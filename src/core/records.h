#pragma once

// Every shared record of the model, for code that wants them all.

#include "core/drop_action.h"
#include "core/glance_records.h"
#include "core/notch_records.h"
#include "core/notification_records.h"
#include "core/system_event_records.h"

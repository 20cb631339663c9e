// The whole public API of docsec.
#ifndef DOCSEC_DOCSEC_H_
#define DOCSEC_DOCSEC_H_

#include "docsec/agent/agent_channel.h"
#include "docsec/agent/agent_command.h"
#include "docsec/agent/agent_packet.h"
#include "docsec/channel/last_error.h"
#include "docsec/channel/request_channel.h"
#include "docsec/core/data_object.h"
#include "docsec/core/data_object_list.h"
#include "docsec/core/date_time.h"
#include "docsec/core/variant_functions.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/host.h"
#include "docsec/platform/ole_date_time.h"
#include "docsec/platform/trace.h"
#include "docsec/platform/uuid.h"
#include "docsec/platform/variant.h"
#include "docsec/platform/xml.h"

#endif  // DOCSEC_DOCSEC_H_

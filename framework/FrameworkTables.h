// The framework's own tables: what it knows about environments, and its settings (the
// local environment identifier made when the database was created).
#pragma once

#include "ASQuery.h"

namespace JRX {

struct jrx_environment_domain : ASDomain {
  jrx_environment_domain() : ASDomain("jrx_environment") { SetPrimaryKey({&eid}); }
  ASAttribute eid{this, "eid", AS_GUID, AS_COL_NOT_NULL};
  ASAttribute type{this, "type", AS_VSTR};
  ASAttribute title{this, "title", AS_VSTR};
};
struct jrx_environment : ASTable<jrx_environment_domain> {
  jrx_environment() { BindValues({&eid, &type, &title}); }
  ASGuid eid;
  ASVStr type;
  ASVStr title;
};

struct jrx_config_domain : ASDomain {
  jrx_config_domain() : ASDomain("jrx_config") { SetPrimaryKey({&name}); }
  ASAttribute name{this, "name", AS_VSTR, AS_COL_NOT_NULL};
  ASAttribute value{this, "value", AS_VSTR};
};
struct jrx_config : ASTable<jrx_config_domain> {
  jrx_config() { BindValues({&name, &value}); }
  ASVStr name;
  ASVStr value;
};

}  // namespace JRX

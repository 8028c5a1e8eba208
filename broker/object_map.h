// The server's object map: one row for KestorObj and the terminating row.
#ifndef KESTOR_BROKER_OBJECT_MAP_H
#define KESTOR_BROKER_OBJECT_MAP_H

#include "com_module.h"

extern ObjectMapEntry g_objectMap[];

// The class's registration hook: applies the class registration script
// (REGISTRY resource 101); TRUE registers, FALSE removes.
HRESULT WINAPI UpdateKestorObjRegistry(BOOL registerObject);

#endif  // KESTOR_BROKER_OBJECT_MAP_H

#include "appresources.h"

#include <QtGlobal>

void initAppResources() {
    Q_INIT_RESOURCE(resources);
}

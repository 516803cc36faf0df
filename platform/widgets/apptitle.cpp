#include "platform/widgets/apptitle.h"

#include <QCoreApplication>

namespace quorvel {

QString ApplicationTitle() {
    return QCoreApplication::applicationName();
}

} // namespace quorvel

#include "GraphicErrors.h"
#include "MetafileGraphic.h"

void TMetafileGraphic::loadFromBytes(const QByteArray&) {
    throw EInvalidGraphic("metafiles not supported yet");
}

void TMetafileGraphic::draw(QPainter&, const QRect&) {}

// Shotcut's entry for velmora.so in its video filters: installed with ui.qml into
// share/shotcut/qml/filters/velmora.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: qsTr("Reduce Noise: Velmora")
    keywords: qsTr("denoise noise grain wavelet velmora", "search keywords for the Velmora filter")
    mlt_service: "frei0r.velmora"
    qml: "ui.qml"
}

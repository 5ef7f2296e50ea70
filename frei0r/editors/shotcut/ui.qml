// Shotcut's panel for velmora.so: the mode (best, the default, or exact), measured noise or a
// strength, and the chroma strength, with presets.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Item {
    property var defaults: {"mode": "best", "auto": 1, "strength": 0.4, "chroma": 0.5}

    function setControls() {
        modeCombo.currentIndex = filter.get("mode") === "exact" ? 1 : 0;
        autoCheck.checked = filter.getDouble("auto") >= 0.5;
        strengthSlider.value = filter.getDouble("strength");
        chromaSlider.value = filter.getDouble("chroma");
    }

    width: 350
    height: 180
    Component.onCompleted: {
        if (filter.isNew) {
            for (var name in defaults)
                filter.set(name, defaults[name]);
            filter.savePreset(preset.parameters);
        }
        setControls();
    }

    GridLayout {
        anchors.fill: parent
        anchors.margins: 8
        columns: 3

        Label {
            text: qsTr("Preset")
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.Preset {
            id: preset
            parameters: ["mode", "auto", "strength", "chroma"]
            Layout.columnSpan: 2
            onPresetSelected: setControls()
        }

        Label {
            text: qsTr("Mode")
            Layout.alignment: Qt.AlignRight
        }
        ComboBox {
            id: modeCombo
            model: [qsTr("Best (four shifted transforms, the default)"), qsTr("Exact (about five times faster)")]
            Layout.fillWidth: true
            onActivated: filter.set("mode", currentIndex === 1 ? "exact" : "best")
        }
        Shotcut.UndoButton {
            onClicked: {
                filter.set("mode", defaults.mode);
                setControls();
            }
        }

        Label {
            text: qsTr("Noise")
            Layout.alignment: Qt.AlignRight
        }
        CheckBox {
            id: autoCheck
            text: qsTr("Measure on every frame (strength not used)")
            Layout.columnSpan: 2
            onClicked: filter.set("auto", checked ? 1 : 0)
        }

        Label {
            text: qsTr("Strength")
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: strengthSlider
            minimumValue: 0
            maximumValue: 1
            decimals: 2
            stepSize: 0.01
            enabled: !autoCheck.checked
            onValueChanged: filter.set("strength", value)
        }
        Shotcut.UndoButton {
            onClicked: strengthSlider.value = defaults.strength
        }

        Label {
            text: qsTr("Chroma")
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: chromaSlider
            minimumValue: 0
            maximumValue: 1
            decimals: 2
            stepSize: 0.01
            onValueChanged: filter.set("chroma", value)
        }
        Shotcut.UndoButton {
            onClicked: chromaSlider.value = defaults.chroma
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        target: filter
        function onChanged() {
            setControls();
        }
    }
}

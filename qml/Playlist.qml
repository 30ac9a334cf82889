import QtQuick 2.12
import QtGraphicalEffects 1.0
import Qt.labs.qmlmodels 1.0
import MyTools 1.0
import NovalineScenes 1.0

// The playlist panel: search field, favourites section and the grouped channel list.
Rectangle {
    id: root

    property int currentId: -1
    property bool isActive: initialPlaylistState
    property alias searchText: searchInput
    property alias mouseArea: playlistMouseArea
    property alias list: tvListView
    readonly property bool favouritesEnabled: config.holdsChannels
    readonly property string favouritesTitle: qsTr("Я люблю")

    function setCurrentGroup(group) {
        if (tvListView.currentGroup !== favouritesTitle)
            tvListView.currentGroup = SceneLogic.groupKey(group)
    }
    function toggleGroup(group) {
        tvListView.currentGroup = (tvListView.currentGroup === group) ? "ungrouped" : group
    }

    color: "#1a1a1a"
    opacity: 0.8
    Behavior on opacity { NumberAnimation { duration: 100 } }

    state: isActive ? "visible" : "hidden"
    states: [
        State {
            name: "visible"
            AnchorChanges { target: root; anchors.left: undefined; anchors.right: globalMouseArea.right }
        },
        State {
            name: "hidden"
            AnchorChanges { target: root; anchors.right: undefined; anchors.left: globalMouseArea.right }
        }
    ]
    transitions: Transition {
        AnchorAnimation { duration: 200 }
    }

    PlaylistSectionModel {
        id: sectionModel
        objectName: "playlistSectionModel"
        sourceModel: playlistSearchModel
        currentGroup: tvListView.currentGroup
        // The first batch of a large insertion fills the view; the rest follows below.
        insertBatch: Math.ceil(tvListView.height / 20) + 2
    }

    MouseArea {
        id: playlistMouseArea
        objectName: "playlistMouseArea"
        anchors.fill: parent
        hoverEnabled: true
        onClicked: resetFocus()

        Rectangle {
            id: searchBox
            objectName: "searchBox"
            anchors.top: parent.top
            anchors.topMargin: 10
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: 19
            anchors.rightMargin: 19
            height: 26
            radius: 2
            color: "#656565"
            opacity: searchInput.activeFocus ? 0.8 : 0.6
            Behavior on opacity { NumberAnimation { duration: 100 } }

            TextInput {
                id: searchInput
                objectName: "searchInput"
                anchors.left: parent.left
                anchors.leftMargin: 6
                anchors.right: clearButton.left
                anchors.rightMargin: 6
                anchors.verticalCenter: parent.verticalCenter
                clip: true
                selectByMouse: true
                font.pixelSize: 13
                color: activeFocus ? "#d9d9d9" : "#808080"
                text: SceneLogic.searchPlaceholder()
                // What the user typed; the placeholder stands in for it while unfocused.
                property string typed: ""
                readonly property string filter: SceneLogic.searchFilter(text)

                onActiveFocusChanged: {
                    if (activeFocus) {
                        text = typed
                    } else {
                        typed = text
                        text = SceneLogic.searchPlaceholder()
                    }
                }
                onFilterChanged: playlistSearchModel.setFilterFixedString(filter)

                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.IBeamCursor
                    acceptedButtons: Qt.NoButton
                }
            }

            MouseArea {
                id: clearButton
                objectName: "clearSearchButton"
                anchors.right: parent.right
                anchors.rightMargin: 7
                anchors.verticalCenter: parent.verticalCenter
                width: 18
                height: 12
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                visible: searchInput.filter !== ""
                onClicked: {
                    searchInput.text = ""
                    resetFocus()
                }

                Image {
                    id: clearImage
                    anchors.fill: parent
                    source: "../images/deleteText.png"
                    // No shader effects on the software scene graph: the plain picture.
                    visible: !SceneLogic.shaderEffects
                }
                Loader {
                    anchors.fill: parent
                    active: SceneLogic.shaderEffects
                    sourceComponent: BrightnessContrast {
                        source: clearImage
                        brightness: clearButton.containsMouse ? 0.5 : 0
                    }
                }
            }
        }

        ListView {
            id: tvListView
            objectName: "tvListView"

            property string currentGroup: "ungrouped"

            anchors.top: searchBox.bottom
            anchors.topMargin: 16
            anchors.left: parent.left
            anchors.leftMargin: 10
            anchors.right: parent.right
            anchors.rightMargin: 15
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 10
            model: sectionModel
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            cacheBuffer: 100
            spacing: 0

            header: Column {
                id: favourites
                objectName: "favouritesSection"
                width: tvListView.width
                visible: root.favouritesEnabled
                height: visible ? implicitHeight : 0
                readonly property bool open: tvListView.currentGroup === root.favouritesTitle

                PlaylistSection {
                    objectName: "favouritesHeader"
                    width: parent.width
                    height: 20
                    title: root.favouritesTitle
                    onClicked: root.toggleGroup(root.favouritesTitle)
                }

                Column {
                    width: parent.width
                    visible: favourites.open

                    Text {
                        objectName: "favouritesEmptyText"
                        width: parent.width
                        height: 20
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                        font.family: "Tahoma"
                        font.pixelSize: 11
                        color: "#989898"
                        text: qsTr("Здесь пока пусто")
                        visible: favouriteRows.count === 0
                    }

                    Repeater {
                        id: favouriteRows
                        objectName: "favouriteRows"
                        // Built only while the section is open.
                        model: favourites.open ? playlistFavouritesModel : null
                        delegate: entryDelegate
                    }
                }
            }

            // Closed groups are left out by the section model: only their headers remain,
            // so the delegates follow what is in view.
            delegate: DelegateChooser {
                role: "isHeader"
                DelegateChoice {
                    roleValue: true
                    PlaylistSection {
                        objectName: "sectionHeader"
                        width: tvListView.width
                        height: 20
                        title: model.group
                        onClicked: root.toggleGroup(model.group)
                    }
                }
                DelegateChoice {
                    roleValue: false
                    delegate: entryDelegate
                }
            }
        }

        // One channel row, in its group of the list or in the favourites section, where
        // it is never drawn selected and a single click does nothing.
        Component {
            id: entryDelegate
            PlaylistElement {
                readonly property bool inFavourites: ListView.view === null
                objectName: inFavourites ? "favouriteEntry" : "playlistEntry"
                width: tvListView.width
                height: 20
                url: model.url
                title: model.title
                // An empty group is "ungrouped", as the list's sections name it.
                group: SceneLogic.groupKey(model.group)
                favourite: model.favourite
                selected: !inFavourites && model.selected
                current: model.id === root.currentId
                enableFavourites: root.favouritesEnabled
                onClicked: {
                    if (inFavourites)
                        return
                    playlistModel.unselectAll()
                    playlistModel.selectItem(model.id)
                }
                onDoubleClicked: viewer.playTv(model.id)
                onLiked: viewer.loveChannel(model.url)
            }
        }

        ScrollBar {
            id: tvListViewScroll
            objectName: "tvListViewScroll"
            flickable: tvListView
        }
    }
}

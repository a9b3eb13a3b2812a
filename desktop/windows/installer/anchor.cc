void InstallerAnchor() {}

# What the WiX source cannot say to wixl, set in the built package's tables by scripts/package
# (msibuild -q, one query a line; lines starting with # are skipped).
#
# A setting that was never given stays unwritten, rather than written empty: component conditions.
UPDATE `Component` SET `Condition`='REMOTEHOST' WHERE `Component`='RemoteHostValue'
UPDATE `Component` SET `Condition`='MAILSERVER' WHERE `Component`='MailServerValue'
UPDATE `Component` SET `Condition`='MAILPORT' WHERE `Component`='MailPortValue'
UPDATE `Component` SET `Condition`='MAILSECURITY' WHERE `Component`='MailSecurityValue'
UPDATE `Component` SET `Condition`='PROXYSERVER' WHERE `Component`='ProxyServerValue'
UPDATE `Component` SET `Condition`='TIMEOUT' WHERE `Component`='TimeOutValue'
UPDATE `Component` SET `Condition`='KITID' WHERE `Component`='KitIdValue'
UPDATE `Component` SET `Condition`='HOLDERNAME' WHERE `Component`='HolderNameValue'
UPDATE `Component` SET `Condition`='HOLDERADDRESS' WHERE `Component`='HolderAddressValue'
# The same version again (of either bitness) replaces the installed one instead of going in
# beside it. wixl drops IncludeMaximum, and Attributes is part of the row's key: the row is
# made anew (256 include the minimum + 512 include the maximum; @VERSION@ is the package's).
DELETE FROM `Upgrade` WHERE `ActionProperty`='OLDERVERSIONFOUND'
INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMin`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('{95F1200C-0137-4BBD-AFA0-5F3CBDB54923}', '0.0.0', '@VERSION@', 768, 'OLDERVERSIONFOUND')
# A plain shortcut to the installed file (wixl makes every shortcut an advertised one).
UPDATE `Shortcut` SET `Target`='[#notelia.exe]' WHERE `Shortcut`='StartMenuShortcut'
# Uninstalling removes the whole settings key, values the program or an administrator added
# included ("-": delete the key when the component goes).
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('SettingsKeyRemoval', 2, 'Software\Quorvex\Zandu\Usuario', '-', 'FontValues')

# What the WiX source cannot say to wixl, set in the built package's tables by scripts/package
# (msibuild -q, one query a line; lines starting with # are skipped).
#
# A setting that was never given stays unwritten, rather than written empty: component conditions.
UPDATE `Component` SET `Condition`='REMOTEHOST' WHERE `Component`='RemoteHostValue'
UPDATE `Component` SET `Condition`='MAILSERVER' WHERE `Component`='MailServerValue'
UPDATE `Component` SET `Condition`='TIMEOUT' WHERE `Component`='TimeOutValue'
UPDATE `Component` SET `Condition`='KITID' WHERE `Component`='KitIdValue'
UPDATE `Component` SET `Condition`='HOLDERNAME' WHERE `Component`='HolderNameValue'
UPDATE `Component` SET `Condition`='HOLDERADDRESS' WHERE `Component`='HolderAddressValue'
# The same version again replaces the installed one instead of going in beside it
# (wixl drops IncludeMaximum: 256 include the minimum + 512 include the maximum).
UPDATE `Upgrade` SET `Attributes`=768 WHERE `ActionProperty`='OLDERVERSIONFOUND'
# A plain shortcut to the installed file (wixl makes every shortcut an advertised one).
UPDATE `Shortcut` SET `Target`='[#notelia.exe]' WHERE `Shortcut`='StartMenuShortcut'
# Uninstalling removes the whole settings key, values the program or an administrator added
# included ("-": delete the key when the component goes).
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('SettingsKeyRemoval', 2, 'Software\Quorvex\Zandu\Usuario', '-', 'FontValues')

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
<context>
    <name>Localizable</name>
    <message>
        <source>stat Initializing ...</source>
        <translation>正在准备…</translation>
    </message>
    <message>
        <source>stat Please install driver</source>
        <translation>未安装设备驱动。请先安装驱动，然后重新启动更新程序。</translation>
    </message>
    <message>
        <source>stat Fail to check version info !</source>
        <translation>无法读取更新包的版本信息。</translation>
    </message>
    <message>
        <source>stat Fail to check image file !</source>
        <translation>更新包中的固件映像缺失或已损坏。</translation>
    </message>
    <message>
        <source>stat Detecting device ...</source>
        <translation>正在查找您的随身热点…</translation>
    </message>
    <message>
        <source>stat Searching device ...</source>
        <translation>正在搜索您的随身热点… 请用 USB 数据线连接设备。</translation>
    </message>
    <message>
        <source>stat Reboot device ...</source>
        <translation>正在重新启动您的随身热点…</translation>
    </message>
    <message>
        <source>stat detect Switching to [%s] mode ...</source>
        <translation>正在将随身热点切换到 %s 模式…</translation>
    </message>
    <message>
        <source>stat detect Fail to switch [%s] mode !</source>
        <translation>无法将随身热点切换到 %s 模式。</translation>
    </message>
    <message>
        <source>stat Reading version ...</source>
        <translation>正在读取固件版本…</translation>
    </message>
    <message>
        <source>stat Fail to read version number !</source>
        <translation>无法从随身热点读取固件版本。</translation>
    </message>
    <message>
        <source>stat Unable to detect device boot mode !</source>
        <translation>无法检测随身热点的当前模式。</translation>
    </message>
    <message>
        <source>stat Device Ready !</source>
        <translation>随身热点已就绪，可以更新。</translation>
    </message>
    <message>
        <source>stat Upgrading ...</source>
        <translation>正在更新…</translation>
    </message>
    <message>
        <source>stat Switching to [%s] mode ...</source>
        <translation>正在将随身热点切换到 %s 模式…</translation>
    </message>
    <message>
        <source>stat Device attached with [%s] mode !</source>
        <translation>随身热点已以 %s 模式连接。</translation>
    </message>
    <message>
        <source>stat Writing [%s] ...</source>
        <translation>正在写入 %s…</translation>
    </message>
    <message>
        <source>stat Switching back to [%s] mode ...</source>
        <translation>正在将随身热点切换回 %s 模式…</translation>
    </message>
    <message>
        <source>stat Wait Restart ...</source>
        <translation>正在等待随身热点重新启动…</translation>
    </message>
    <message>
        <source>stat updated Reading version ...</source>
        <translation>正在读取新的固件版本…</translation>
    </message>
    <message>
        <source>stat updated Fail to read version number !</source>
        <translation>无法读取新的固件版本。</translation>
    </message>
    <message>
        <source>stat Fail to switch [%s] mode !</source>
        <translation>无法将随身热点切换到 %s 模式。</translation>
    </message>
    <message>
        <source>stat Fail to switch back [%s] mode !</source>
        <translation>无法将随身热点切换回 %s 模式。</translation>
    </message>
    <message>
        <source>stat Success upgrade device !</source>
        <translation>随身热点已成功更新。</translation>
    </message>
    <message>
        <source>stat Fail to upgrade by some error !</source>
        <translation>更新因出错而失败。</translation>
    </message>
    <message>
        <source>stat Device not found !</source>
        <translation>找不到您的随身热点。</translation>
    </message>
    <message>
        <source>stat No permission to use the device !</source>
        <translation>已找到您的随身热点，但这台电脑不允许您使用它。</translation>
    </message>
    <message>
        <source>info No permission to use the device. To allow it, run: %s</source>
        <translation>要允许访问随身热点，请在终端中运行以下命令：
%s</translation>
    </message>
    <message>
        <source>stat Fail to write image !</source>
        <translation>无法将固件映像写入随身热点。</translation>
    </message>
    <message>
        <source>alert The updater is already running (since %s, by %s)</source>
        <translation>更新程序已在运行（%s 起，由用户 %s 运行）</translation>
    </message>
    <message>
        <source>alert This user may not update hotspots on this machine: add it to the group plugdev (sudo adduser %s plugdev), then log in again.</source>
        <translation>此用户无权在本机更新随身热点：请将其加入 plugdev 组（sudo adduser %s plugdev），然后重新登录。</translation>
    </message>
    <message>
        <source>btn Initializing</source>
        <translation>请稍候</translation>
    </message>
    <message>
        <source>btn Processing</source>
        <translation>正在更新…</translation>
    </message>
    <message>
        <source>btn Searching</source>
        <translation>正在搜索…</translation>
    </message>
    <message>
        <source>btn Detecting ...</source>
        <translation>正在检测…</translation>
    </message>
    <message>
        <source>btn Start</source>
        <translation>开始更新</translation>
    </message>
    <message>
        <source>btn Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>btn Retry</source>
        <translation>重试</translation>
    </message>
    <message>
        <source>info Version after update</source>
        <translation>更新后的版本</translation>
    </message>
    <message>
        <source>info Current version</source>
        <translation>当前版本</translation>
    </message>
    <message>
        <source>info Your vesion is up to date</source>
        <translation>您的随身热点固件已是最新版本。</translation>
    </message>
    <message>
        <source>info The firmware was written, but its new version could not be read.</source>
        <translation>固件已写入，但无法读取随身热点的新固件版本。</translation>
    </message>
    <message>
        <source>info Please check device, reconnect it and try again.</source>
        <translation>请检查随身热点，重新连接后再试一次。</translation>
    </message>
    <message>
        <source>info Device data not restored, a copy is kept in %s</source>
        <translation>随身热点的 Wi-Fi 校准数据和设置未能全部恢复，副本保存在 %s</translation>
    </message>
    <message>
        <source>info The firmware package failed its signature check: %s</source>
        <translation>无法确认固件包来自可信的发布者：%s</translation>
    </message>
    <message>
        <source>info No trusted key could be read: %s</source>
        <translation>无法读取任何可信密钥，因此无法确认固件包：%s</translation>
    </message>
    <message>
        <source>warning Please do not remove, update is in progress.</source>
        <translation>正在更新，请勿拔下随身热点。</translation>
    </message>
    <message>
        <source>warning Update is finished.</source>
        <translation>更新已完成。</translation>
    </message>
    <message>
        <source>stat Waiting for its turn ...</source>
        <translation>正在排队等候……</translation>
    </message>
    <message>
        <source>stat Waiting for the bus ...</source>
        <translation>正在等候总线……</translation>
    </message>
    <message>
        <source>stat The update was not started !</source>
        <translation>更新未开始！</translation>
    </message>
    <message>
        <source>stat station %s found, %s updating, %s updated, %s failed</source>
        <translation>随身热点：发现 %s 台，正在更新 %s 台，已更新 %s 台，失败 %s 台</translation>
    </message>
    <message>
        <source>res Updated to %s</source>
        <translation>已更新到 %s</translation>
    </message>
    <message>
        <source>res Updated</source>
        <translation>已更新</translation>
    </message>
    <message>
        <source>res Up to date</source>
        <translation>已是最新版本</translation>
    </message>
    <message>
        <source>res Failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>res Not started</source>
        <translation>未开始</translation>
    </message>
    <message>
        <source>stat The last update did not finish !</source>
        <translation>上次更新未完成！</translation>
    </message>
    <message>
        <source>btn Finish</source>
        <translation>完成更新</translation>
    </message>
    <message>
        <source>info An update to %s did not finish.</source>
        <translation>更新到 %s 的操作未完成。</translation>
    </message>
    <message>
        <source>info It stopped on %s.</source>
        <translation>它停止于 %s。</translation>
    </message>
    <message>
        <source>info Press Finish to write the firmware again and put your data back.</source>
        <translation>请按“完成更新”重新写入固件并恢复您的数据。</translation>
    </message>
    <message>
        <source>info It was already resumed %s times.</source>
        <translation>它已经恢复过 %s 次。</translation>
    </message>
    <message>
        <source>info An update journal could not be trusted and was moved to %s</source>
        <translation>一个更新记录无法信任，已移至 %s</translation>
    </message>
    <message>
        <source>btn Start All</source>
        <translation>全部开始</translation>
    </message>
    <message>
        <source>btn Only the ports:</source>
        <translation>仅这些端口：</translation>
    </message>
    <message>
        <source>info all, or such as 1-2.*,3-1</source>
        <translation>全部，或如 1-2.*,3-1</translation>
    </message>
    <message>
        <source>info Ports are patterns such as 1-2.* separated by commas.</source>
        <translation>端口为以逗号分隔的模式，如 1-2.*。</translation>
    </message>
    <message>
        <source>warn port %s: %s of the last 5 failed — check the cable or hub</source>
        <translation>端口 %s：最近 5 次中有 %s 次失败——请检查数据线或集线器。</translation>
    </message>
    <message>
        <source>stat Today: %s updated, %s failed</source>
        <translation>今天：已更新 %s 台，失败 %s 台</translation>
    </message>
    <message>
        <source>stat Shared record: not reachable since %s — %s attempts waiting</source>
        <translation>共享记录：自 %s 起无法连接——%s 条尝试记录等待发送</translation>
    </message>
    <message>
        <source>alert The guard that keeps a second updater from starting cannot be trusted: %s. Reinstall the package, or ask the administrator.</source>
        <translation>防止第二个更新程序启动的保护锁不可信：%s。请重新安装软件包，或联系管理员。</translation>
    </message>
    <message>
        <source>info This hotspot&apos;s updates:</source>
        <translation>此随身热点的更新记录：</translation>
    </message>
    <message>
        <source>btn Update each hotspot as soon as it is found</source>
        <translation>找到随身热点后立即更新</translation>
    </message>
    <message>
        <source>stat Updated — you can unplug it</source>
        <translation>已更新——可以拔下了</translation>
    </message>
    <message>
        <source>col Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>col Version</source>
        <translation>设备版本</translation>
    </message>
    <message>
        <source>col Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>col Progress</source>
        <translation>进度</translation>
    </message>
    <message>
        <source>col Result</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>stat Closing once the running updates end ...</source>
        <translation>正在进行的更新结束后，更新程序将关闭。</translation>
    </message>
    <message>
        <source>info Package version %s</source>
        <translation>固件包：%s</translation>
    </message>
    <message>
        <source>stat The firmware was written, but your data did not go back !</source>
        <translation>固件已写入，但您的数据未能恢复！</translation>
    </message>
    <message>
        <source>stat The update could not be recorded, so nothing was written !</source>
        <translation>无法记录此次更新，因此未写入任何内容！</translation>
    </message>
    <message>
        <source>info Press Try Again to put your data back.</source>
        <translation>您的 Wi-Fi 校准数据和设置已妥善保存在这台电脑上。请按“重试”将其恢复。</translation>
    </message>
    <message>
        <source>info Make room on the disk or let %s be written, then try again.</source>
        <translation>热点上未做任何更改。请清理磁盘空间或使 %s 可写，然后按“重试”。</translation>
    </message>
    <message>
        <source>info The update journal could not be written; every copy of your data is kept.</source>
        <translation>无法写入更新记录；您数据的所有副本均已保留。</translation>
    </message>
    <message>
        <source>stat Is this the hotspot whose update stopped on %s ?</source>
        <translation>这是在 %s 中断更新的那台热点吗？</translation>
    </message>
    <message>
        <source>info Finish it only if this is that hotspot: its saved data then goes onto this one.</source>
        <translation>仅当这正是那台热点时才完成更新：届时从它保存的数据将写入这台热点。</translation>
    </message>
    <message>
        <source>info That update ran at the port %s; this hotspot is at another.</source>
        <translation>那次更新是在端口 %s 上进行的；这台热点在另一个端口。</translation>
    </message>
    <message>
        <source>info Its saved data goes onto it only if it is. The update was to %s.</source>
        <translation>只有是同一台热点时，从那台热点保存的数据才会写入这台。那次更新的目标固件为 %s。</translation>
    </message>
    <message>
        <source>btn Finish with the saved data</source>
        <translation>是，用保存的数据完成更新</translation>
    </message>
    <message>
        <source>btn Update it as another hotspot</source>
        <translation>不是，这是另一台热点</translation>
    </message>
    <message>
        <source>res Data not back</source>
        <translation>数据未恢复</translation>
    </message>
    <message>
        <source>restore Entry %s: saved from the hotspot at port %s on %s, calibration %s.</source>
        <translation>条目 %s：保存自端口 %s 上的热点，时间 %s，校准数据 %s。</translation>
    </message>
    <message>
        <source>restore It goes onto the hotspot at %s; what that hotspot holds now is saved first.</source>
        <translation>它将写入 %s 上的热点；该热点现有的数据会先被保存。</translation>
    </message>
    <message>
        <source>restore The calibration of the hotspot at %s could not be read: nothing shows that this is its data.</source>
        <translation>无法读取 %s 上热点的校准数据：无法证明这是它的数据。</translation>
    </message>
    <message>
        <source>restore The hotspot at %s holds another calibration (%s): this is not its own data.</source>
        <translation>%s 上的热点现有另一份校准数据（%s）：这不是它自己的数据。</translation>
    </message>
    <message>
        <source>restore Put this data on that hotspot? [y/N] </source>
        <translation>将这些数据写入该热点吗？[y/N] </translation>
    </message>
    <message>
        <source>restore Left untouched: --yes does not decide whose data goes where. Run again with --other-calibration to put it on the hotspot at %s all the same, or choose the entry saved from that hotspot (--restore lists them).</source>
        <translation>未做任何改动：--yes 不决定数据归属。如仍要写入 %s 上的热点，请加 --other-calibration 再次运行；或选择保存自该热点的条目（--restore 可列出）。</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Update in progress</source>
        <translation>正在更新</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>进度</translation>
    </message>
</context>
</TS>

<?xml version="1.0"?><Groups Mute='False' Volume='0'><Groups/>
<Devices><Device IPAddress='127.0.0.2'/></Devices><Group LongName='été € 😀' ShortName='é'
 Volume_A='0' Volume_B='0' Sensitivity_A='0' Sensitivity_B='0' Limiter_A='10' Limiter_B='10'
 Volume_Lock='False' Sensitivity_Lock='False' Limiter_Lock='False' Mute='False'><Devices>
<Device LongName='a&#9;b&#10;c' ShortName='x y z w v u' IPAddress='127.0.0.3' Mute_CHA='1' Mute_CHB='yes'>
</Device></Devices></Group></Groups>
<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>texts</name>
    <message>
        <source>About Vorlane Messenger(&amp;A)...</source>
        <comment>101</comment>
        <translation>关于Vorlane即时通(&amp;A)...</translation>
    </message>
    <message>
        <source>Socket library initialisation failed.</source>
        <comment>103</comment>
        <translation>Windows 套接字初始化失败。</translation>
    </message>
    <message>
        <source>Open Messenger</source>
        <comment>148</comment>
        <translation>打开即时通</translation>
    </message>
    <message>
        <source>Sign Out</source>
        <comment>149</comment>
        <translation>登出</translation>
    </message>
    <message>
        <source>Sign In</source>
        <comment>150</comment>
        <translation>登陆</translation>
    </message>
    <message>
        <source>Exit</source>
        <comment>151</comment>
        <translation>退出</translation>
    </message>
    <message>
        <source>Online</source>
        <comment>152</comment>
        <translation>在线</translation>
    </message>
    <message>
        <source>Offline</source>
        <comment>153</comment>
        <translation>下线</translation>
    </message>
    <message>
        <source>Busy</source>
        <comment>154</comment>
        <translation>忙</translation>
    </message>
    <message>
        <source>Away</source>
        <comment>155</comment>
        <translation>离开</translation>
    </message>
    <message>
        <source>Right Back</source>
        <comment>156</comment>
        <translation>很快回来</translation>
    </message>
    <message>
        <source>On Phone</source>
        <comment>157</comment>
        <translation>在电话上</translation>
    </message>
    <message>
        <source>Lunch</source>
        <comment>158</comment>
        <translation>午饭</translation>
    </message>
    <message>
        <source>Appear Offline</source>
        <comment>159</comment>
        <translation>显示下线</translation>
    </message>
    <message>
        <source>My Status</source>
        <comment>160</comment>
        <translation>我的状态</translation>
    </message>
    <message>
        <source>Add Group</source>
        <comment>161</comment>
        <translation>添加组</translation>
    </message>
    <message>
        <source>Edit Group</source>
        <comment>162</comment>
        <translation>编辑组</translation>
    </message>
    <message>
        <source>Delete Group</source>
        <comment>163</comment>
        <translation>删除组</translation>
    </message>
    <message>
        <source>Add Contact</source>
        <comment>164</comment>
        <translation>添加联系人</translation>
    </message>
    <message>
        <source>Edit Contact</source>
        <comment>165</comment>
        <translation>编辑联系人</translation>
    </message>
    <message>
        <source>Remove Contact</source>
        <comment>166</comment>
        <translation>删除联系人</translation>
    </message>
    <message>
        <source>View Info</source>
        <comment>167</comment>
        <translation>查看信息</translation>
    </message>
    <message>
        <source>Text Chat</source>
        <comment>168</comment>
        <translation>文本聊天</translation>
    </message>
    <message>
        <source>Audio Video</source>
        <comment>169</comment>
        <translation>视频音频</translation>
    </message>
    <message>
        <source>Transfer File</source>
        <comment>170</comment>
        <translation>传送文件</translation>
    </message>
    <message>
        <source>Offline Message</source>
        <comment>171</comment>
        <translation>下线消息</translation>
    </message>
    <message>
        <source>Email should not be empty.</source>
        <comment>172</comment>
        <translation>电子邮件不能为空.</translation>
    </message>
    <message>
        <source>Email seems not correct.</source>
        <comment>173</comment>
        <translation>电子邮件不正确.</translation>
    </message>
    <message>
        <source>The email address already exist in your contact list.</source>
        <comment>174</comment>
        <translation>该电子邮件地址已经在你的联系人列表里了.</translation>
    </message>
    <message>
        <source>This contact already exists in your contact list.</source>
        <comment>175</comment>
        <translation>该联系人已经在你的联系人列表里了.</translation>
    </message>
    <message>
        <source>Email could not be blank.</source>
        <comment>176</comment>
        <translation>电子邮件不能为空.</translation>
    </message>
    <message>
        <source>Email could not contain ':' charactor</source>
        <comment>177</comment>
        <translation>电子邮件不能有':'字符</translation>
    </message>
    <message>
        <source>Could not input more than 10000 charactors.</source>
        <comment>178</comment>
        <translation>不能输入 10000 以上的字符.</translation>
    </message>
    <message>
        <source>No contact selected when sending.</source>
        <comment>179</comment>
        <translation>在发送时没有选择联系人.</translation>
    </message>
    <message>
        <source>failed to send offline message, did not find contact in contact list.</source>
        <comment>180</comment>
        <translation>发送线下消息失败, 在联系人列表里没有找到联系人.</translation>
    </message>
    <message>
        <source>Email could not be empty.</source>
        <comment>181</comment>
        <translation>电子邮件不能为空.</translation>
    </message>
    <message>
        <source>Password could not be empty.</source>
        <comment>182</comment>
        <translation>口令不能为空.</translation>
    </message>
    <message>
        <source>FirstName could not be empty.</source>
        <comment>183</comment>
        <translation>名字不能为空.</translation>
    </message>
    <message>
        <source>LastName could not be empty.</source>
        <comment>184</comment>
        <translation>姓不能为空.</translation>
    </message>
    <message>
        <source>NickName could not be empty.</source>
        <comment>185</comment>
        <translation>别名不能为空.</translation>
    </message>
    <message>
        <source>Your Email seems not correct, please correct.</source>
        <comment>186</comment>
        <translation>电子邮件不正确, 请改正.</translation>
    </message>
    <message>
        <source>:, &lt;, &gt;, ', ", \ and space is not allowed in email, please correct.</source>
        <comment>187</comment>
        <translation>:, &lt;, &gt;, ', ", \ 和空格不能出现在电子邮件里, 请改正.</translation>
    </message>
    <message>
        <source>Please choose between "discard message" or "save message".</source>
        <comment>188</comment>
        <translation>请选择 "丢弃信息" 或 "保存信息".</translation>
    </message>
    <message>
        <source>failed to open file to write, make sure you have privilege to do so.</source>
        <comment>189</comment>
        <translation>写文件失败, 请确定您有写文件的权限.</translation>
    </message>
    <message>
        <source>Failed to connect to peer's server.</source>
        <comment>190</comment>
        <translation>连接同伴的服务器失败.</translation>
    </message>
    <message>
        <source>Login failed.</source>
        <comment>191</comment>
        <translation>登陆失败.</translation>
    </message>
    <message>
        <source>Register Success.</source>
        <comment>192</comment>
        <translation>注册成功.</translation>
    </message>
    <message>
        <source>General error when register, please try again later.</source>
        <comment>193</comment>
        <translation>注册时发生错误, 请稍后重试.</translation>
    </message>
    <message>
        <source>Email already exist when register, please change your email and try again.</source>
        <comment>194</comment>
        <translation>电子邮件已经存在, 请改变你的电子邮件然后重试.</translation>
    </message>
    <message>
        <source>Contact Search Failed.</source>
        <comment>195</comment>
        <translation>联系人查找失败.</translation>
    </message>
    <message>
        <source>Contact with email %s not found, please try again.</source>
        <comment>196</comment>
        <translation>联系人的电子邮件 %s 没有找到, 请重试.</translation>
    </message>
    <message>
        <source>Contact is added to your list.</source>
        <comment>197</comment>
        <translation>联系人已加入你的列表.</translation>
    </message>
    <message>
        <source>Contact not added to your list.</source>
        <comment>198</comment>
        <translation>联系人没有加入你的列表.</translation>
    </message>
    <message>
        <source>Contact removed.</source>
        <comment>199</comment>
        <translation>联系人已删除.</translation>
    </message>
    <message>
        <source>Contact full.</source>
        <comment>200</comment>
        <translation>联系人列表满.</translation>
    </message>
    <message>
        <source>Failed to add contact, please try again later.</source>
        <comment>201</comment>
        <translation>添加联系人失败, 请稍后重试.</translation>
    </message>
    <message>
        <source>The contact already exist in your contact list.</source>
        <comment>202</comment>
        <translation>联系人已经存在在你的联系人列表中.</translation>
    </message>
    <message>
        <source>Group add failed, please try again later.</source>
        <comment>203</comment>
        <translation>添加组失败, 请稍后重试.</translation>
    </message>
    <message>
        <source>Group remove failed, please try again later.</source>
        <comment>204</comment>
        <translation>删除组失败, 请稍后重试.</translation>
    </message>
    <message>
        <source>Group name update failed, please try again later.</source>
        <comment>205</comment>
        <translation>组名更新失败, 请稍后重试.</translation>
    </message>
    <message>
        <source>You have offline message, do you want to read now?</source>
        <comment>206</comment>
        <translation>您有下线信息, 您现在想接受吗?</translation>
    </message>
    <message>
        <source>%s %s(%s) want to send you a file named %s, do you want accept?</source>
        <comment>207</comment>
        <translation>%s %s(%s) 正在向您发送名为 %s 的文件, 您接受吗?</translation>
    </message>
    <message>
        <source>sending file %s to %s %s(%s) now.</source>
        <comment>208</comment>
        <translation>正在发送文件 %s 到 %s %s(%s).</translation>
    </message>
    <message>
        <source>%s %s(%s) did not accept your file transfer.</source>
        <comment>209</comment>
        <translation>%s %s(%s) 没有接收您发送的文件.</translation>
    </message>
    <message>
        <source>File %s saved successfully from %s %s (%s).</source>
        <comment>210</comment>
        <translation>文件 %s 保存成功 from %s %s (%s).</translation>
    </message>
    <message>
        <source>Failed to remove contact.</source>
        <comment>211</comment>
        <translation>删除联系人失败.</translation>
    </message>
    <message>
        <source>%s(%s %s)(%s) added you as contact, do you want to add her(him) to your contact list?</source>
        <comment>212</comment>
        <translation>%s(%s %s)(%s) 把你加入联系人列表, 你想加入对方到你的联系人列表吗?</translation>
    </message>
    <message>
        <source>%s(%s %s)(%s) removed you from his(her) contact list, do you want to remove him(her) from your contact list?</source>
        <comment>213</comment>
        <translation>%s(%s %s)(%s) 将你从联系人列表中删除, 你想删除对方吗?</translation>
    </message>
    <message>
        <source>Please login first before you add contact.</source>
        <comment>214</comment>
        <translation>请先登陆再添加联系人.</translation>
    </message>
    <message>
        <source>Are you sure to remove this contact from your list?</source>
        <comment>215</comment>
        <translation>你确定要把这个联系人从你的列表删除吗?</translation>
    </message>
    <message>
        <source>could not delete default group.</source>
        <comment>216</comment>
        <translation>不能删除缺省组.</translation>
    </message>
    <message>
        <source>Could not edit dfault group.</source>
        <comment>217</comment>
        <translation>不能编辑缺省组.</translation>
    </message>
    <message>
        <source>Could not delete a none-empty group.</source>
        <comment>218</comment>
        <translation>不能删除非空的组.</translation>
    </message>
    <message>
        <source>Are you sure to remove this group?</source>
        <comment>219</comment>
        <translation>你确定删除这个组吗?</translation>
    </message>
    <message>
        <source>connect to peer failed.</source>
        <comment>220</comment>
        <translation>连接联系人失败.</translation>
    </message>
    <message>
        <source>please select a contact.</source>
        <comment>221</comment>
        <translation>请选择一个联系人.</translation>
    </message>
    <message>
        <source>Are you sure to tranfer file %s to %s?</source>
        <comment>222</comment>
        <translation>你确定要传送文件 %s 给 %s 吗?</translation>
    </message>
    <message>
        <source>Please select a contact.</source>
        <comment>223</comment>
        <translation>请选择一个联系人.</translation>
    </message>
    <message>
        <source>You logged in at another location, this connection is disconnected.</source>
        <comment>224</comment>
        <translation>您在其它地方登陆了, 这个连接被断掉.</translation>
    </message>
    <message>
        <source>%s(%s) become online.</source>
        <comment>225</comment>
        <translation>%s(%s) 上线.</translation>
    </message>
    <message>
        <source>Knock Peer</source>
        <comment>226</comment>
        <translation>提醒对方</translation>
    </message>
    <message>
        <source>Allow Knock</source>
        <comment>227</comment>
        <translation>允许对方提醒</translation>
    </message>
    <message>
        <source>Disallow Knock</source>
        <comment>228</comment>
        <translation>不允许对方提醒</translation>
    </message>
    <message>
        <source>About Vorlane Messenger</source>
        <comment>229</comment>
        <translation>关于Vorlane即时通</translation>
    </message>
    <message>
        <source>Send feedback to us</source>
        <comment>230</comment>
        <translation>发送意见和建议给我们</translation>
    </message>
    <message>
        <source>Start Web Conference</source>
        <comment>231</comment>
        <translation>开始网络会议</translation>
    </message>
    <message>
        <source>Knock from %s %s(%s)</source>
        <comment>1001</comment>
        <translation>%s %s(%s) 敲门提醒</translation>
    </message>
    <message>
        <source>Welcome (%s, %s) %s!</source>
        <comment>1002</comment>
        <translation>欢迎 (%s, %s) %s!</translation>
    </message>
    <message>
        <source>The file %s from %s %s(%s) did not arrive completely; the part received is kept as %s.</source>
        <comment>1003</comment>
        <translation>文件 %s (来自 %s %s(%s)) 没有完整收到; 已收到的部分保存为 %s.</translation>
    </message>
    <message>
        <source>Could not open file %s to send it to %s %s(%s).</source>
        <comment>1004</comment>
        <translation>无法打开文件 %s 以发送给 %s %s(%s).</translation>
    </message>
    <message>
        <source>Sending file %s to %s %s(%s) stopped before the end.</source>
        <comment>1005</comment>
        <translation>发送文件 %s 给 %s %s(%s) 中途停止.</translation>
    </message>
    <message>
        <source>Your line to %s %s(%s) could not be sent.</source>
        <comment>1006</comment>
        <translation>您给 %s %s(%s) 的消息无法发送.</translation>
    </message>
    <message>
        <source>Could not offer file %s to %s %s(%s).</source>
        <comment>1007</comment>
        <translation>无法提供文件 %s 给 %s %s(%s).</translation>
    </message>
    <message>
        <source>File %s was not offered: a file to %s %s(%s) is still being offered or sent; offer it when that one ends.</source>
        <comment>1008</comment>
        <translation>文件 %s 未提供: 给 %s %s(%s) 的文件仍在提供或发送中; 请在其结束后再提供.</translation>
    </message>
    <message>
        <source>Connecting...</source>
        <comment>1009</comment>
        <translation>正在连接...</translation>
    </message>
    <message>
        <source>The server refused your offline message: too many messages are waiting for this user.</source>
        <comment>1031</comment>
        <translation>服务器拒绝了您的线下消息: 等待该用户的消息太多.</translation>
    </message>
    <message>
        <source>Your offline message may not have been stored: the server did not confirm it.</source>
        <comment>1032</comment>
        <translation>您的线下消息可能未被保存: 服务器没有确认.</translation>
    </message>
    <message>
        <source>Parlo</source>
        <comment>2001</comment>
        <translation>Vorlane即时通</translation>
    </message>
    <message>
        <source>Register</source>
        <comment>2003</comment>
        <translation>注册</translation>
    </message>
    <message>
        <source>Status</source>
        <comment>2004</comment>
        <translation>状态</translation>
    </message>
    <message>
        <source>Menu</source>
        <comment>2005</comment>
        <translation>菜单</translation>
    </message>
    <message>
        <source>Forget Passwd?</source>
        <comment>2006</comment>
        <translation>忘记密码?</translation>
    </message>
    <message>
        <source>OnLine</source>
        <comment>2007</comment>
        <translation>在线</translation>
    </message>
    <message>
        <source>Vorlane Messenger</source>
        <comment>2008</comment>
        <translation>Vorlane即时通</translation>
    </message>
    <message>
        <source>Vorlane Messenger (%s)</source>
        <comment>2009</comment>
        <translation>Vorlane即时通 (%s)</translation>
    </message>
    <message>
        <source>Message</source>
        <comment>2010</comment>
        <translation>消息</translation>
    </message>
    <message>
        <source>OK</source>
        <comment>2011</comment>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <comment>2012</comment>
        <translation>取消</translation>
    </message>
    <message>
        <source>YES</source>
        <comment>2013</comment>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <comment>2014</comment>
        <translation>否</translation>
    </message>
    <message>
        <source>Yes</source>
        <comment>2015</comment>
        <translation>是</translation>
    </message>
    <message>
        <source>Event</source>
        <comment>2016</comment>
        <translation>事件</translation>
    </message>
    <message>
        <source>About Parlo</source>
        <comment>2017</comment>
        <translation>关于Vorlane即时通</translation>
    </message>
    <message>
        <source>Vorlane Messenger Version 1.1</source>
        <comment>2018</comment>
        <translation>Vorlane即时通 版本 1.1</translation>
    </message>
    <message>
        <source>Text, voice and video with your contacts, directly or through relays.</source>
        <comment>2019</comment>
        <translation>与联系人文字、语音和视频交流, 直接或经由中继.</translation>
    </message>
    <message>
        <source>Email:</source>
        <comment>2020</comment>
        <translation>电子邮件:</translation>
    </message>
    <message>
        <source>Password:</source>
        <comment>2021</comment>
        <translation>口令:</translation>
    </message>
    <message>
        <source>Remember My Email on this machine</source>
        <comment>2022</comment>
        <translation>在本机记住我的电子邮件</translation>
    </message>
    <message>
        <source>Remember My Password on this machine</source>
        <comment>2023</comment>
        <translation>在本机记住我的口令</translation>
    </message>
    <message>
        <source>Unknown</source>
        <comment>2025</comment>
        <translation>未知</translation>
    </message>
    <message>
        <source>Message from %s</source>
        <comment>2026</comment>
        <translation>来自 %s 的消息</translation>
    </message>
    <message>
        <source>No answer for %s seconds: %s may have stopped waiting for it. You can still accept it; if the offer is gone, nothing arrives.</source>
        <comment>2027</comment>
        <translation>%s 秒没有回答: %s 可能已不再等待. 您仍可以接受; 如果提供已取消, 将不会收到文件.</translation>
    </message>
    <message>
        <source>%s went offline: the file offer was withdrawn.</source>
        <comment>2028</comment>
        <translation>%s 已下线: 文件提供已撤回.</translation>
    </message>
    <message>
        <source>Your camera could not be opened: your picture is not sent.</source>
        <comment>2029</comment>
        <translation>无法打开您的摄像头: 您的图像不会被发送.</translation>
    </message>
    <message>
        <source>*Email:</source>
        <comment>2101</comment>
        <translation>*电子邮件:</translation>
    </message>
    <message>
        <source>*Password:</source>
        <comment>2102</comment>
        <translation>*口令:</translation>
    </message>
    <message>
        <source>*First Name:</source>
        <comment>2103</comment>
        <translation>*名字:</translation>
    </message>
    <message>
        <source>*Last Name:</source>
        <comment>2104</comment>
        <translation>*姓:</translation>
    </message>
    <message>
        <source>*Nick Name:</source>
        <comment>2105</comment>
        <translation>*别名:</translation>
    </message>
    <message>
        <source>Phone:</source>
        <comment>2106</comment>
        <translation>电话:</translation>
    </message>
    <message>
        <source>Country:</source>
        <comment>2107</comment>
        <translation>国家:</translation>
    </message>
    <message>
        <source>Reset</source>
        <comment>2108</comment>
        <translation>重置</translation>
    </message>
    <message>
        <source>Search Contact</source>
        <comment>2109</comment>
        <translation>查找联系人</translation>
    </message>
    <message>
        <source>Please enter your contact's email:</source>
        <comment>2110</comment>
        <translation>请输入联系人的电子邮件:</translation>
    </message>
    <message>
        <source>Search</source>
        <comment>2111</comment>
        <translation>查找</translation>
    </message>
    <message>
        <source>Are you sure to add this person to your contact list?</source>
        <comment>2112</comment>
        <translation>你确定要把这个人加入你的联系人列表吗?</translation>
    </message>
    <message>
        <source>First Name:</source>
        <comment>2113</comment>
        <translation>名字:</translation>
    </message>
    <message>
        <source>Last Name:</source>
        <comment>2114</comment>
        <translation>姓:</translation>
    </message>
    <message>
        <source>Nick Name:</source>
        <comment>2115</comment>
        <translation>别名:</translation>
    </message>
    <message>
        <source>Add</source>
        <comment>2116</comment>
        <translation>添加</translation>
    </message>
    <message>
        <source>Please enter group name:</source>
        <comment>2117</comment>
        <translation>请输入组名:</translation>
    </message>
    <message>
        <source>Offline Message To:%s %s(%s)</source>
        <comment>2118</comment>
        <translation>下线消息给:%s %s(%s)</translation>
    </message>
    <message>
        <source>Send On Return</source>
        <comment>2119</comment>
        <translation>回车发送</translation>
    </message>
    <message>
        <source>Send</source>
        <comment>2120</comment>
        <translation>发送</translation>
    </message>
    <message>
        <source>Clear</source>
        <comment>2121</comment>
        <translation>清除</translation>
    </message>
    <message>
        <source>Close</source>
        <comment>2122</comment>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Offline Message From %s</source>
        <comment>2123</comment>
        <translation>来自 %s 的下线消息</translation>
    </message>
    <message>
        <source>Discard</source>
        <comment>2124</comment>
        <translation>丢弃</translation>
    </message>
    <message>
        <source>Save</source>
        <comment>2125</comment>
        <translation>保存</translation>
    </message>
    <message>
        <source>Text Files (*.txt)</source>
        <comment>2126</comment>
        <translation>文本文件 (*.txt)</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <comment>2127</comment>
        <translation>所有文件 (*)</translation>
    </message>
    <message>
        <source>First Name</source>
        <comment>2128</comment>
        <translation>名字</translation>
    </message>
    <message>
        <source>Last Name</source>
        <comment>2129</comment>
        <translation>姓</translation>
    </message>
    <message>
        <source>Email</source>
        <comment>2130</comment>
        <translation>电子邮件</translation>
    </message>
    <message>
        <source>Nick Name</source>
        <comment>2131</comment>
        <translation>别名</translation>
    </message>
    <message>
        <source>Default Group</source>
        <comment>2132</comment>
        <translation>缺省组</translation>
    </message>
    <message>
        <source>Sending to %s</source>
        <comment>2133</comment>
        <translation>正在发送给 %s</translation>
    </message>
    <message>
        <source>Receiving from %s</source>
        <comment>2134</comment>
        <translation>正在接收自 %s</translation>
    </message>
    <message>
        <source>%s of %s</source>
        <comment>2135</comment>
        <translation>%s / %s</translation>
    </message>
    <message>
        <source>%s/s</source>
        <comment>2136</comment>
        <translation>%s/秒</translation>
    </message>
    <message>
        <source>%s left</source>
        <comment>2137</comment>
        <translation>剩余 %s</translation>
    </message>
    <message>
        <source>Sent %s.</source>
        <comment>2138</comment>
        <translation>已发送 %s.</translation>
    </message>
    <message>
        <source>Saved %s.</source>
        <comment>2139</comment>
        <translation>已保存 %s.</translation>
    </message>
    <message>
        <source>Stopped after %s: %s.</source>
        <comment>2140</comment>
        <translation>在 %s 后停止: %s.</translation>
    </message>
    <message>
        <source>the connection closed</source>
        <comment>2141</comment>
        <translation>连接已关闭</translation>
    </message>
    <message>
        <source>no data arrived for a minute</source>
        <comment>2142</comment>
        <translation>一分钟内没有收到数据</translation>
    </message>
    <message>
        <source>the file could not be written</source>
        <comment>2143</comment>
        <translation>文件无法写入</translation>
    </message>
    <message>
        <source>a new file from the same contact replaced it</source>
        <comment>2144</comment>
        <translation>同一联系人的新文件取代了它</translation>
    </message>
    <message>
        <source>the transfer was stopped</source>
        <comment>2145</comment>
        <translation>传送已停止</translation>
    </message>
    <message>
        <source>an unknown reason</source>
        <comment>2146</comment>
        <translation>未知原因</translation>
    </message>
    <message>
        <source>the file could not be opened</source>
        <comment>2147</comment>
        <translation>文件无法打开</translation>
    </message>
    <message>
        <source>the connection failed</source>
        <comment>2148</comment>
        <translation>连接失败</translation>
    </message>
    <message>
        <source>the file could not be read</source>
        <comment>2149</comment>
        <translation>文件无法读取</translation>
    </message>
    <message>
        <source>the receiver refused it</source>
        <comment>2150</comment>
        <translation>接收方拒绝了</translation>
    </message>
    <message>
        <source>Chat with: %s</source>
        <comment>2301</comment>
        <translation>与 %s 聊天</translation>
    </message>
    <message>
        <source>Send</source>
        <comment>2302</comment>
        <translation>发送</translation>
    </message>
    <message>
        <source>Clear</source>
        <comment>2303</comment>
        <translation>清除</translation>
    </message>
    <message>
        <source>Close</source>
        <comment>2304</comment>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Save</source>
        <comment>2305</comment>
        <translation>保存</translation>
    </message>
    <message>
        <source>Send On Return</source>
        <comment>2306</comment>
        <translation>回车发送</translation>
    </message>
    <message>
        <source>Hide audio video &lt;&lt;&lt;&lt;&lt;&lt;</source>
        <comment>2307</comment>
        <translation>隐藏音频视频 &lt;&lt;&lt;&lt;&lt;&lt;</translation>
    </message>
    <message>
        <source>Show audio video &gt;&gt;&gt;&gt;&gt;&gt;</source>
        <comment>2308</comment>
        <translation>显示音频视频 &gt;&gt;&gt;&gt;&gt;&gt;</translation>
    </message>
    <message>
        <source>Choose Save Format</source>
        <comment>2309</comment>
        <translation>选择保存格式</translation>
    </message>
    <message>
        <source>Save As RTF File</source>
        <comment>2310</comment>
        <translation>保存为 RTF 文件</translation>
    </message>
    <message>
        <source>Save As Text File</source>
        <comment>2311</comment>
        <translation>保存为文本文件</translation>
    </message>
    <message>
        <source>Invlidate save type.</source>
        <comment>2312</comment>
        <translation>无效的保存类型.</translation>
    </message>
    <message>
        <source>Rich Text Format Files (*.rtf)</source>
        <comment>2313</comment>
        <translation>RTF 文件 (*.rtf)</translation>
    </message>
    <message>
        <source>Text Files (*.txt)</source>
        <comment>2314</comment>
        <translation>文本文件 (*.txt)</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <comment>2315</comment>
        <translation>所有文件 (*)</translation>
    </message>
    <message>
        <source>Peer Video</source>
        <comment>2316</comment>
        <translation>对方视频</translation>
    </message>
    <message>
        <source>My Video</source>
        <comment>2317</comment>
        <translation>我的视频</translation>
    </message>
    <message>
        <source>Audio</source>
        <comment>2318</comment>
        <translation>音频</translation>
    </message>
    <message>
        <source>Quality:</source>
        <comment>2319</comment>
        <translation>质量:</translation>
    </message>
    <message>
        <source>Size:</source>
        <comment>2320</comment>
        <translation>大小:</translation>
    </message>
    <message>
        <source>Speed:</source>
        <comment>2321</comment>
        <translation>速度:</translation>
    </message>
    <message>
        <source>Start my audio</source>
        <comment>2322</comment>
        <translation>开始我的音频</translation>
    </message>
    <message>
        <source>Stop my audio</source>
        <comment>2323</comment>
        <translation>停止我的音频</translation>
    </message>
    <message>
        <source>Start peer audio</source>
        <comment>2324</comment>
        <translation>开始对方音频</translation>
    </message>
    <message>
        <source>Stop peer audio</source>
        <comment>2325</comment>
        <translation>停止对方音频</translation>
    </message>
    <message>
        <source>Start peer video</source>
        <comment>2920</comment>
        <translation>开始对方视频</translation>
    </message>
    <message>
        <source>Stop peer video</source>
        <comment>2921</comment>
        <translation>停止对方视频</translation>
    </message>
    <message>
        <source>Start my video</source>
        <comment>2922</comment>
        <translation>开始我的视频</translation>
    </message>
    <message>
        <source>Stop my video</source>
        <comment>2923</comment>
        <translation>停止我的视频</translation>
    </message>
    <message>
        <source>Zoom peer video</source>
        <comment>2924</comment>
        <translation>放大对方视频</translation>
    </message>
    <message>
        <source>Zoom my video</source>
        <comment>2925</comment>
        <translation>放大我的视频</translation>
    </message>
    <message>
        <source>Maximun videos reached.</source>
        <comment>2960</comment>
        <translation>视频数已达上限。</translation>
    </message>
    <message>
        <source>failed to create IVolume, please check your microphone device.</source>
        <comment>2961</comment>
        <translation>无法调节麦克风音量，请检查麦克风设备。</translation>
    </message>
    <message>
        <source>WAVEIN:%s:%s</source>
        <comment>2962</comment>
        <translation>录音设备无法打开 (%s): %s</translation>
    </message>
    <message>
        <source>WAVEOUT:%s:%s</source>
        <comment>2963</comment>
        <translation>放音设备无法打开 (%s): %s</translation>
    </message>
    <message>
        <source>create key failed in reg_write!</source>
        <comment>2964</comment>
        <translation>无法写入设置文件！</translation>
    </message>
    <message>
        <source>set value failed in reg_write.</source>
        <comment>2965</comment>
        <translation>无法保存设置。</translation>
    </message>
    <message>
        <source>create key failed in reg read!</source>
        <comment>2966</comment>
        <translation>无法读取设置文件！</translation>
    </message>
    <message>
        <source>Proxy type error, Please choose your proxy type in proxy options.</source>
        <comment>2967</comment>
        <translation>代理类型错误，请在代理选项中选择代理类型。</translation>
    </message>
    <message>
        <source>here we are 0.</source>
        <comment>2968</comment>
        <translation>无法向代理发送连接请求。</translation>
    </message>
    <message>
        <source>Receiving data from server failed, may need reconnect.</source>
        <comment>2969</comment>
        <translation>从服务器接收数据失败，可能需要重新连接。</translation>
    </message>
    <message>
        <source>error resolving destination name..</source>
        <comment>2970</comment>
        <translation>无法解析目标主机名。</translation>
    </message>
    <message>
        <source>failed to write to socks4 proxy.</source>
        <comment>2971</comment>
        <translation>无法向 SOCKS4 代理发送数据。</translation>
    </message>
    <message>
        <source>failed to read from proxy.</source>
        <comment>2972</comment>
        <translation>无法从代理读取数据。</translation>
    </message>
    <message>
        <source>connect to proxy request rejected or failed</source>
        <comment>2973</comment>
        <translation>代理拒绝了连接请求或连接失败</translation>
    </message>
    <message>
        <source>request rejected becasue SOCKS server cannot connect to identd on the client</source>
        <comment>2974</comment>
        <translation>请求被拒绝：SOCKS 服务器无法连接客户端的 identd</translation>
    </message>
    <message>
        <source>request rejected because the client program and identd report different user-ids</source>
        <comment>2975</comment>
        <translation>请求被拒绝：客户端程序与 identd 报告的用户 ID 不同</translation>
    </message>
    <message>
        <source>failed to write to socks5 proxy.</source>
        <comment>2976</comment>
        <translation>无法向 SOCKS5 代理发送数据。</translation>
    </message>
    <message>
        <source>failed to read from socks5 proxy.</source>
        <comment>2977</comment>
        <translation>无法从 SOCKS5 代理读取数据。</translation>
    </message>
    <message>
        <source>proxy does not support anonymouse or username/password method.</source>
        <comment>2978</comment>
        <translation>代理既不支持匿名方式也不支持用户名/密码方式。</translation>
    </message>
    <message>
        <source>The proxy user name and password must each be at most 255 characters.</source>
        <comment>2979</comment>
        <translation>代理的用户名和密码各自不能超过 255 个字符。</translation>
    </message>
    <message>
        <source>failed to write to socks5 proxy user_name/password.</source>
        <comment>2980</comment>
        <translation>无法向 SOCKS5 代理发送用户名/密码。</translation>
    </message>
    <message>
        <source>failed to read from proxy socks5 user_name/password result.</source>
        <comment>2981</comment>
        <translation>无法读取 SOCKS5 代理的用户名/密码验证结果。</translation>
    </message>
    <message>
        <source>Authentication to socks5 proxy failed.</source>
        <comment>2982</comment>
        <translation>SOCKS5 代理身份验证失败。</translation>
    </message>
    <message>
        <source>failed to write to socks5 proxy in sending port and address.</source>
        <comment>2983</comment>
        <translation>无法向 SOCKS5 代理发送端口和地址。</translation>
    </message>
    <message>
        <source>failed to read from proxy socks5 1.</source>
        <comment>2984</comment>
        <translation>无法读取 SOCKS5 代理的连接应答。</translation>
    </message>
    <message>
        <source>general SOCKS server failure</source>
        <comment>2985</comment>
        <translation>SOCKS 服务器一般性故障</translation>
    </message>
    <message>
        <source>connection not allowed by ruleset</source>
        <comment>2986</comment>
        <translation>规则不允许此连接</translation>
    </message>
    <message>
        <source>Network unreachable</source>
        <comment>2987</comment>
        <translation>网络不可达</translation>
    </message>
    <message>
        <source>Host unreachable</source>
        <comment>2988</comment>
        <translation>主机不可达</translation>
    </message>
    <message>
        <source>Connection refused</source>
        <comment>2989</comment>
        <translation>连接被拒绝</translation>
    </message>
    <message>
        <source>TTL expired</source>
        <comment>2990</comment>
        <translation>TTL 已过期</translation>
    </message>
    <message>
        <source>Command not supported</source>
        <comment>2991</comment>
        <translation>不支持该命令</translation>
    </message>
    <message>
        <source>Address type not supported</source>
        <comment>2992</comment>
        <translation>不支持该地址类型</translation>
    </message>
    <message>
        <source>to X'FF' unassigned</source>
        <comment>2993</comment>
        <translation>未分配的应答代码</translation>
    </message>
    <message>
        <source>create socket failed!</source>
        <comment>2994</comment>
        <translation>创建套接字失败！</translation>
    </message>
    <message>
        <source>error resolving hostname...:%s:</source>
        <comment>2995</comment>
        <translation>解析主机名出错...:%s:</translation>
    </message>
    <message>
        <source>accept failed.</source>
        <comment>2996</comment>
        <translation>接受连接失败。</translation>
    </message>
    <message>
        <source>accept failed.in g_server_thread.</source>
        <comment>2997</comment>
        <translation>中转服务接受连接失败。</translation>
    </message>
    <message>
        <source>peer socket server bind failed.</source>
        <comment>2998</comment>
        <translation>对等连接端口绑定失败。</translation>
    </message>
    <message>
        <source>wait g_mutex_sound failed in g_sound_master_thread.</source>
        <comment>2999</comment>
        <translation>声音队列等待超时。</translation>
    </message>
    <message>
        <source>index out of range in reset_one_contact</source>
        <comment>3000</comment>
        <translation>联系人序号超出范围</translation>
    </message>
    <message>
        <source>index out of range in reset_one_contact_group</source>
        <comment>3001</comment>
        <translation>联系人组序号超出范围</translation>
    </message>
    <message>
        <source>send len&lt;=0 at Clink_socket::my_send!</source>
        <comment>3002</comment>
        <translation>发送长度无效。</translation>
    </message>
    <message>
        <source>recv max_len&lt;=0 at Clink_socket::my_recv!</source>
        <comment>3003</comment>
        <translation>接收长度无效。</translation>
    </message>
    <message>
        <source>A sound device stopped working: the call goes on with the system default device, or without sound when there is none.</source>
        <comment>1060</comment>
        <translation>一个声音设备停止工作：通话将使用系统默认设备继续，没有可用设备时则无声继续。</translation>
    </message>
    <message>
        <source>The camera stopped working: your picture is no longer sent, the call goes on.</source>
        <comment>1061</comment>
        <translation>摄像头停止工作：您的图像不再发送，通话继续。</translation>
    </message>
    <message>
        <source>Audio and video devices...</source>
        <comment>2400</comment>
        <translation>音频和视频设备...</translation>
    </message>
    <message>
        <source>Audio and video devices</source>
        <comment>2401</comment>
        <translation>音频和视频设备</translation>
    </message>
    <message>
        <source>Microphone:</source>
        <comment>2402</comment>
        <translation>麦克风：</translation>
    </message>
    <message>
        <source>Speakers:</source>
        <comment>2403</comment>
        <translation>扬声器：</translation>
    </message>
    <message>
        <source>Camera:</source>
        <comment>2404</comment>
        <translation>摄像头：</translation>
    </message>
    <message>
        <source>System default</source>
        <comment>2405</comment>
        <translation>系统默认</translation>
    </message>
    <message>
        <source>Microphone level:</source>
        <comment>2406</comment>
        <translation>麦克风音量：</translation>
    </message>
    <message>
        <source>Play test sound</source>
        <comment>2407</comment>
        <translation>播放测试声音</translation>
    </message>
    <message>
        <source>Echo cancellation</source>
        <comment>2408</comment>
        <translation>回声消除</translation>
    </message>
    <message>
        <source>Noise suppression</source>
        <comment>2409</comment>
        <translation>噪声抑制</translation>
    </message>
    <message>
        <source>Automatic gain</source>
        <comment>2410</comment>
        <translation>自动增益</translation>
    </message>
    <message>
        <source>No camera found</source>
        <comment>2411</comment>
        <translation>未找到摄像头</translation>
    </message>
</context>
</TS>
